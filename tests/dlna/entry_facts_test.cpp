// Posters and covers as players find them: a folder's poster in any case on the folder and on its
// videos and music, a video's own "<stem>.jpg", an MP3's embedded cover served byte-exact with its
// media type, and Samsung's duration header; all through a real engine on a loopback port.
#include "dlna/entry_facts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "dlna/art.h"
#include "dlna/device.h"
#include "dlna/didl.h"
#include "dlna/folder_content.h"
#include "dlna/media_types.h"
#include "dlna/object_ids.h"
#include "dlna/upnp_handler.h"
#include "server/media_handler.h"
#include "support/fake_facts.h"
#include "support/http_exchange.h"
#include "support/temp_dir.h"

namespace tovi::dlna {
namespace {

// The text of the albumArtURI of the object with id in a DIDL document, "" when it has none, and
// "<missing>" when the object is not there.
std::string ArtOf(const std::string& didl, const std::string& id) {
  const std::size_t start = didl.find(" id=\"" + id + "\"");
  if (start == std::string::npos) return "<missing>";
  const std::size_t close = std::min(didl.find("</item>", start), didl.find("</container>", start));
  const std::string object = didl.substr(start, close - start);
  const std::size_t art = object.find("<upnp:albumArtURI");
  if (art == std::string::npos) return "";
  const std::size_t text = object.find('>', art) + 1;
  return object.substr(text, object.find('<', text) - text);
}

class PostersAndCovers : public ::testing::Test {
 protected:
  void SetUp() override {
    FolderContentOptions options = PlatformFolderContentOptions();
    const std::string drive = dir_.Folder();
    options.drives = [drive] { return std::vector<std::string>{drive}; };
    options.facts.reader = fake_.Reader();
    content_.emplace(std::move(options));
    handler_.emplace(DeviceFacts{"uuid:5e0f3c1e-0000-4000-8000-000000000001", "Test"}, *content_,
                     ServedProtocolInfos());
    server_ = server::CreateMediaServer(
        "127.0.0.1", 0,
        [this](http::TNetPeerThread& t, http::TNetHTTPRequestInfo& rq, http::TNetHTTPResponseInfo& rs) {
          handler_->Handle(t.Connection(), rq, rs);
        });
    server_->SetActive(true);
    port_ = static_cast<std::uint16_t>(server_->Bindings()[0].Port());
    base_ = "http://127.0.0.1:" + std::to_string(port_);
  }
  void TearDown() override { server_->SetActive(false); }

  std::string Browse(const std::string& path, bool metadata) {
    BrowseRequest request;
    request.objectId = ObjectIdOfPath(path);
    request.metadata = metadata;
    return content_->Browse(request, base_).didl;
  }
  std::string Res(const std::string& path) const {
    return ResourceUrl(base_, ObjectIdOfPath(path), ExtensionOf(path));
  }
  // The URL's path and query, as a request names it.
  std::string TargetOf(const std::string& url) const { return url.substr(base_.size()); }

  tovi::testing::TempDir dir_;
  tovi::testing::FakeFacts fake_;
  std::optional<FolderContent> content_;
  std::optional<UpnpRequestHandler> handler_;
  std::shared_ptr<http::TNetHTTPServer> server_;
  std::uint16_t port_ = 0;
  std::string base_;
};

// ID3v2 header room, then the picture, then audio frames.
const std::string kJpeg = std::string("\xFF\xD8\xFF\xE0", 4) + std::string(3000, 'j') + "\xFF\xD9";
const std::string kPng = std::string("\x89PNG\r\n\x1A\n", 8) + std::string(500, 'p');

media::MediaFacts CoverAt(std::uint64_t offset, std::size_t length, const char* mime) {
  media::MediaFacts facts;
  facts.durationMs = 1000;
  facts.coverOffset = offset;
  facts.coverLength = static_cast<std::uint32_t>(length);
  facts.coverMime = mime;
  return facts;
}

TEST_F(PostersAndCovers, FolderPostersInAnyCaseOwnPostersAndEmbeddedCovers) {
  const std::string poster = dir_.Write("FOLDER.JPG", kJpeg);
  const std::string film = dir_.Write("film.mkv", "film");
  const std::string filmPoster = dir_.Write("film.Jpg", kJpeg);
  const std::string clip = dir_.Write("clip.mp4", "clip");
  // Windows takes "Show.AVI" and "show.jpg" for one stem; POSIX file systems do not.
  const std::string show = dir_.Write("Show.AVI", "show");
  const std::string showPoster = dir_.Write("show.jpg", kJpeg);
  const std::string showArt = Res(fs::kSeparator == '\\' ? showPoster : poster);
  const std::string song = dir_.Write("song.mp3", "ID3" + kJpeg + "frames");
  const std::string silent = dir_.Write("silent.mp3", "frames");
  const std::string picture = dir_.Write("pic.png", kPng);
  const std::string sub = dir_.MakeFolder("Sub") + fs::kSeparator;
  const std::string subPoster = dir_.Write("Sub/Cover.jpg", kJpeg);
  const std::string empty = dir_.MakeFolder("Empty") + fs::kSeparator;
  fake_.Set(song, CoverAt(3, kJpeg.size(), "image/jpeg"));

  const std::string didl = Browse(dir_.Folder(), false);
  struct Want { std::string path, art; };
  const Want wants[] = {
      {sub, Res(subPoster)},
      {empty, ""},
      {film, Res(filmPoster)},
      {clip, Res(poster)},            // no poster of its own
      {show, showArt},
      {song, CoverUrl(base_, song)},  // its own cover before the folder's
      {silent, Res(poster)},
      {picture, ""},                  // a picture is its own
      {poster, ""},
  };
  for (const Want& w : wants) EXPECT_EQ(ArtOf(didl, ObjectIdOfPath(w.path)), w.art) << w.path << "\n" << didl;
  EXPECT_NE(didl.find("<upnp:albumArtURI dlna:profileID=\"JPEG_TN\">" + CoverUrl(base_, song)),
            std::string::npos);
  EXPECT_NE(CoverUrl(base_, song).find(".jpg"), std::string::npos);

  // One object alone finds the same posters.
  EXPECT_EQ(ArtOf(Browse(dir_.Folder(), true), ObjectIdOfPath(dir_.Folder())), Res(poster));
  EXPECT_EQ(ArtOf(Browse(film, true), ObjectIdOfPath(film)), Res(filmPoster));
  EXPECT_EQ(ArtOf(Browse(clip, true), ObjectIdOfPath(clip)), Res(poster));
  EXPECT_EQ(ArtOf(Browse(show, true), ObjectIdOfPath(show)), showArt);
}

// A poster copied over the old one leaves its folder as it was: the folder and its videos are
// announced with the new picture's profile, as its own answer has it.
TEST_F(PostersAndCovers, APosterReplacedInPlaceIsAnnouncedAsItIsNow) {
  const std::string poster = dir_.Write("Show/folder.jpg", kJpeg);
  const std::string film = dir_.Write("Show/film.mkv", "film");
  const std::string show = dir_.Path("Show") + fs::kSeparator;
  media::MediaFacts picture;
  picture.width = 160;
  picture.height = 120;
  fake_.Set(poster, picture);
  const std::string small = "dlna:profileID=\"JPEG_TN\">" + Res(poster);
  EXPECT_NE(Browse(film, true).find(small), std::string::npos);
  Browse(dir_.Folder(), false);  // the folder's facts, its poster named
  EXPECT_NE(Browse(dir_.Folder(), false).find(small), std::string::npos);

  picture.width = 1920;
  picture.height = 1080;
  fake_.Set(poster, picture);
  dir_.Write("Show/folder.jpg", kJpeg + "a larger one");
  const std::string large = "dlna:profileID=\"JPEG_LRG\">" + Res(poster);
  EXPECT_NE(Browse(dir_.Folder(), false).find(large), std::string::npos);
  EXPECT_NE(Browse(show, true).find(large), std::string::npos);
  EXPECT_NE(Browse(film, true).find(large), std::string::npos);
}

// The DLNA profile an object's poster is announced with: "" for none, "<no art>" when it has no
// albumArtURI, "<missing>" when the object is not there.
std::string ArtProfileOf(const std::string& didl, const std::string& id) {
  const std::size_t start = didl.find(" id=\"" + id + "\"");
  if (start == std::string::npos) return "<missing>";
  const std::size_t art = didl.find("<upnp:albumArtURI", start);
  const std::size_t close = std::min(didl.find("</item>", start), didl.find("</container>", start));
  if (art > close) return "<no art>";
  const std::string element = didl.substr(art, didl.find('>', art) - art);
  const std::string attribute = "dlna:profileID=\"";
  const std::size_t value = element.find(attribute);
  if (value == std::string::npos) return "";
  const std::size_t from = value + attribute.size();
  return element.substr(from, element.find('"', from) - from);
}

// A picture saved as ".jpg" that is none (a PNG, or a WebP as browsers save posters now) or an
// empty one is announced without a profile once it has been read, not as a JPEG thumbnail.
TEST_F(PostersAndCovers, APosterThatIsNoJpegIsAnnouncedWithoutAProfile) {
  const std::string show = dir_.MakeFolder("Show") + fs::kSeparator;
  const std::string poster = dir_.Write("Show/folder.jpg", kPng);
  const std::string film = dir_.Write("Show/film.mkv", "film");
  const std::string own = dir_.Write("Show/clip.jpg", "");
  const std::string clip = dir_.Write("Show/clip.mp4", "clip");
  const std::pair<std::string, std::string> pictures[] = {{poster, kPng}, {own, ""}};
  for (const auto& [path, bytes] : pictures) {
    media::MemorySource source(bytes);
    fake_.Set(path, media::ReadFacts("jpg", source).value_or(media::MediaFacts{}));
  }
  Browse(show, false);  // the posters read
  const std::string didl = Browse(show, false);
  EXPECT_EQ(ArtProfileOf(didl, ObjectIdOfPath(film)), "");
  EXPECT_EQ(ArtProfileOf(didl, ObjectIdOfPath(clip)), "");
  EXPECT_EQ(ArtProfileOf(Browse(show, true), ObjectIdOfPath(show)), "");
}

// A JPEG's first bytes up to the end of its frame header.
std::string JpegHead(unsigned frame, unsigned width, unsigned height, unsigned components) {
  const unsigned length = 8 + 3 * components;
  std::string head = "\xFF\xD8\xFF";
  for (const unsigned byte : {frame, length >> 8, length & 0xFF, 8u, height >> 8, height & 0xFF,
                              width >> 8, width & 0xFF, components}) {
    head += static_cast<char>(byte);
  }
  return head + std::string(3 * components, '\x11');
}

// DLNA's JPEG profiles take baseline pictures in YCbCr or grey: a progressive poster (as web sites
// save most) or a CMYK one is announced without one, on the items it stands for and on its own
// res, so that a TV that trusts the profile does not give it to a decoder that cannot draw it.
TEST_F(PostersAndCovers, JpegsNoProfileTakesAreAnnouncedWithoutOne) {
  struct Case {
    std::string stem;
    unsigned frame, components;
    std::string profile;
  };
  const Case cases[] = {{"baseline", 0xC0, 3, "JPEG_MED"},
                        {"grey", 0xC0, 1, "JPEG_MED"},
                        {"progressive", 0xC2, 3, ""},
                        {"cmyk", 0xC0, 4, ""}};
  for (const Case& c : cases) {
    const std::string head = JpegHead(c.frame, 1000, 700, c.components);
    const std::string poster = dir_.Write(c.stem + ".jpg", head);
    dir_.Write(c.stem + ".mkv", "film");
    media::MemorySource source(head);
    fake_.Set(poster, media::ReadFacts("jpg", source).value_or(media::MediaFacts{}));
  }
  Browse(dir_.Folder(), false);  // the posters read
  const std::string didl = Browse(dir_.Folder(), false);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stem);
    EXPECT_EQ(ArtProfileOf(didl, ObjectIdOfPath(dir_.Path(c.stem + ".mkv"))), c.profile);
    // The picture's own res.
    const std::string id = ObjectIdOfPath(dir_.Path(c.stem + ".jpg"));
    const std::size_t start = didl.find(" id=\"" + id + "\"");
    ASSERT_NE(start, std::string::npos) << didl;
    const std::string picture = didl.substr(start, didl.find("</item>", start) - start);
    const std::string named = "DLNA.ORG_PN=";
    const std::size_t at = picture.find(named), value = at + named.size();
    const std::size_t end = picture.find(';', value);
    EXPECT_EQ(at == std::string::npos ? "" : picture.substr(value, end - value), c.profile);
  }
}

TEST_F(PostersAndCovers, CoversAreServedFromInsideTheirFileWithTheirMediaType) {
  const std::string song = dir_.Write("song.mp3", "ID3" + kJpeg + "frames");
  const std::string pngSong = dir_.Write("png.mp3", "ID3xx" + kPng + "frames");
  const std::string plain = dir_.Write("plain.mp3", "frames");
  const std::string liar = dir_.Write("liar.mp3", "ID3short");
  const std::string poster = dir_.Write("folder.jpg", kJpeg);
  fake_.Set(song, CoverAt(3, kJpeg.size(), "image/jpeg"));
  fake_.Set(pngSong, CoverAt(5, kPng.size(), "image/png"));
  fake_.Set(liar, CoverAt(3, 1 << 20, "image/jpeg"));  // past the end of its file
  struct Case {
    std::string method, url, headers;
    int status;
    std::string body, contentType;
  };
  const Case cases[] = {
      {"GET", CoverUrl(base_, song), "", 200, kJpeg, "image/jpeg"},
      {"GET", CoverUrl(base_, song), "Range: bytes=0-3\r\n", 206, kJpeg.substr(0, 4), "image/jpeg"},
      {"HEAD", CoverUrl(base_, song), "", 200, "", "image/jpeg"},
      {"GET", CoverUrl(base_, pngSong), "", 200, kPng, "image/png"},
      {"GET", CoverUrl(base_, plain), "", 404, "Not Found", ""},
      {"GET", CoverUrl(base_, liar), "", 404, "Not Found", ""},
      {"GET", CoverUrl(base_, dir_.Path("gone.mp3")), "", 404, "Not Found", ""},
      {"GET", Res(poster), "", 200, kJpeg, "image/jpeg"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.method + " " + c.url + " " + c.headers);
    const auto r = testing::Get(port_, TargetOf(c.url), c.headers, c.method, 10000);
    ASSERT_TRUE(r.connected);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.body, c.body);
    if (!c.contentType.empty()) {
      EXPECT_EQ(r.Header("Content-Type"), c.contentType);
    }
    if (c.status == 200) {
      const std::size_t length = c.method == "HEAD" ? kJpeg.size() : c.body.size();
      EXPECT_EQ(r.Header("Content-Length"), std::to_string(length));
    }
  }
  // A cover's DLNA headers are a poster's: its picture's features when asked, Interactive.
  const std::string asked = "getcontentFeatures.dlna.org: 1\r\n";
  const auto jpeg = testing::Get(port_, TargetOf(CoverUrl(base_, song)), asked, "HEAD");
  const auto png = testing::Get(port_, TargetOf(CoverUrl(base_, pngSong)), asked, "HEAD");
  EXPECT_EQ(jpeg.Header("contentFeatures.dlna.org"),
            DlnaFeatures(*MediaTypeOfName("a.jpg"), "JPEG_TN"));
  EXPECT_EQ(png.Header("contentFeatures.dlna.org"),
            DlnaFeatures(*MediaTypeOfName("a.png"), "PNG_TN"));
  EXPECT_EQ(jpeg.Header("transferMode.dlna.org"), "Interactive");
}

TEST_F(PostersAndCovers, SamsungAsksForTheDurationAndGetsItWhenKnown) {
  const std::string film = dir_.Write("film.mkv", "film");
  const std::string clip = dir_.Write("clip.mp4", "clip");
  media::MediaFacts facts;
  facts.durationMs = 3600500;
  fake_.Set(film, facts);
  const std::string ask = "getMediaInfo.sec: 1\r\n";
  struct Case { std::string method, path, headers, mediaInfo; };
  const Case cases[] = {
      {"GET", film, ask, "SEC_Duration=3600500"},
      {"HEAD", film, ask, "SEC_Duration=3600500"},
      {"GET", film, "", ""},    // not asked
      {"HEAD", clip, ask, ""},  // not known
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.method + " " + c.path + " " + c.headers);
    const auto r = testing::Get(port_, TargetOf(Res(c.path)), c.headers, c.method, 10000);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.Header("MediaInfo.sec"), c.mediaInfo);
    EXPECT_EQ(r.Has("MediaInfo.sec"), !c.mediaInfo.empty());
  }
}

// An .mp4 holding sound alone is music to a TV: its item and its answer say so alike; other
// containers keep the video type TVs play them with. A film misnamed goes as what it holds.
TEST_F(PostersAndCovers, SoundAloneInAnMp4IsAnnouncedAndServedAsAudio) {
  const std::string song = dir_.Write("song.mp4", "song");
  const std::string talk = dir_.Write("talk.webm", "talk");
  const std::string film = dir_.Write("film.mkv", "film");
  const std::string misnamed = dir_.Write("misnamed.avi", "film");
  media::MediaFacts sound;
  sound.channels = 2;
  sound.soundOnly = true;
  media::MediaFacts picture = sound;
  picture.soundOnly = false;
  fake_.Set(song, sound);
  fake_.Set(talk, sound);
  fake_.Set(film, picture);
  media::MediaFacts matroska = picture;
  matroska.heldExtension = "mkv";
  fake_.Set(misnamed, matroska);
  const std::string didl = Browse(dir_.Folder(), false);
  struct Want { std::string path, upnpClass, mime; };
  const Want wants[] = {{song, kAudioClass, "audio/mp4"},
                        {talk, kVideoClass, "video/webm"},
                        {film, kVideoClass, "video/x-matroska"},
                     {misnamed, kVideoClass, "video/x-matroska"}};
  for (const Want& w : wants) {
    SCOPED_TRACE(w.path);
    const std::size_t start = didl.find(" id=\"" + ObjectIdOfPath(w.path) + "\"");
    ASSERT_NE(start, std::string::npos) << didl;
    const std::string item = didl.substr(start, didl.find("</item>", start) - start);
    EXPECT_NE(item.find("<upnp:class>" + w.upnpClass + "<"), std::string::npos) << item;
    EXPECT_NE(item.find("protocolInfo=\"http-get:*:" + w.mime + ":"), std::string::npos) << item;
    const auto r = testing::Get(port_, TargetOf(Res(w.path)), "", "HEAD", 10000);
    EXPECT_EQ(r.Header("Content-Type"), w.mime);
  }
  // A recording still being written is not read for its type before each answer (it changes
  // between requests, so what is read is never kept): it goes by its name's type.
  const int reads = fake_.Reads();
  for (const char* written : {"pictures", "more pictures"}) {
    const std::string recording = dir_.Write("recording.ts", written);
    const auto r = testing::Get(port_, TargetOf(Res(recording)), "", "HEAD", 10000);
    EXPECT_EQ(r.Header("Content-Type"), "video/vnd.dlna.mpeg-tts");
  }
  EXPECT_EQ(fake_.Reads(), reads);
}

}  // namespace
}  // namespace tovi::dlna
