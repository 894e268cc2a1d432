# Sourced by the media-server tests whose control points check the facts a server reads from
# files (res@duration, res@resolution) and the poster it offers (upnp:albumArtURI): small real
# videos in the containers TVs play, and a folder poster. Each takes ffmpeg well under a second.

# dlna_sample_video PATH WxH SECONDS: a video of that size and length with a sine tone, its
# codecs the usual ones for the container PATH's extension names (.mp4, .mkv, .avi); appends
# "NAME=WxH:SECONDS" (NAME: the file's name) to the array dlna_sample_facts.
dlna_sample_video() {
  local path=$1 size=$2 seconds=$3 codecs
  case $path in
    *.mp4) codecs=(-c:v libx264 -preset veryfast -pix_fmt yuv420p -c:a aac) ;;
    *.mkv) codecs=(-c:v libx264 -preset veryfast -pix_fmt yuv420p -c:a libvorbis) ;;
    *.avi) codecs=(-c:v mpeg4 -c:a libmp3lame) ;;
    *) echo "dlna_sample_video: no codecs for $path" >&2; return 1 ;;
  esac
  ffmpeg -nostdin -v error -f lavfi -i "testsrc=size=$size:rate=25" -f lavfi -i sine=frequency=440 \
    -t "$seconds" "${codecs[@]}" "$path" || return 1
  dlna_sample_facts+=("${path##*/}=$size:$seconds")
}

# dlna_sample_poster PATH: a small JPEG picture (a folder's "folder.jpg").
dlna_sample_poster() {
  ffmpeg -nostdin -v error -f lavfi -i testsrc=size=160x120 -frames:v 1 -update 1 "$1"
}
