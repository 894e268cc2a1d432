// The players the table knows, each replaying what it sends (its headers, its SOAP bodies as
// written on its wire) to the handler and a real content tree over loopback: what it is
// answered where the families differ (media types in the listing and on the file's answer,
// profiles, how subtitles are offered, resume positions), and that a player no row names gets
// the answers of a server that knows none.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dlna/folder_content.h"
#include "dlna/object_ids.h"
#include "dlna/upnp_handler.h"
#include "dlna/xml.h"
#include "support/http_exchange.h"
#include "support/loopback_engine.h"
#include "support/temp_dir.h"

namespace tovi::dlna {
namespace {

// A season folder as a household has one: a film with its subtitles, an old AVI, a song.
class PersonaServer {
 public:
  PersonaServer()
      : content_(Options(dir_)),
        handler_({"0b6e4c1a-0000-4000-8000-00000000abcd", "PC"}, content_, ServedProtocolInfos()),
        engine_([this](http::TNetPeerThread& t, http::TNetHTTPRequestInfo& rq,
                       http::TNetHTTPResponseInfo& rs) { handler_.Handle(t.Connection(), rq, rs); },
                [](http::TNetHTTPServer& s) { s.SetExtraMethods(kEventMethods); }) {}

  std::uint16_t Port() const { return engine_.Port(); }
  std::string FolderId() const { return ObjectIdOfPath(dir_.Folder()); }
  std::string IdOf(const std::string& name) const { return ObjectIdOfPath(dir_.Path(name)); }

 private:
  static FolderContentOptions Options(const testing::TempDir& dir) {
    dir.Write("film.mkv", "matroska bytes");
    dir.Write("film.srt", "1\r\n00:00:01,000 --> 00:00:02,000\r\nhi\r\n");
    dir.Write("film.ass", "[Script Info]\r\nScriptType: v4.00+\r\n");
    dir.Write("old.avi", "avi bytes");
    dir.Write("song.mp3", "mp3 bytes");
    FolderContentOptions options = PlatformFolderContentOptions();
    const std::string drive = dir.Folder();
    options.drives = [drive] { return std::vector<std::string>{drive}; };
    return options;
  }

  testing::TempDir dir_;
  FolderContent content_;
  UpnpRequestHandler handler_;
  testing::LoopbackEngine engine_;
};

std::string Envelope(const std::string& action, const std::string& args) {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
         "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
         "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\">\r\n<s:Body>\r\n<u:" +
         action + " xmlns:u=\"urn:schemas-upnp-org:service:ContentDirectory:1\">" + args +
         "</u:" + action + ">\r\n</s:Body>\r\n</s:Envelope>\r\n";
}

testing::WireResponse Control(std::uint16_t port, const std::string& headers,
                              const std::string& action, const std::string& body) {
  return testing::Exchange(
      port, "POST /?dlna/cds/control HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                "\r\n" + headers + "SOAPACTION: \"urn:schemas-upnp-org:service:ContentDirectory:1#" +
                action + "\"\r\nContent-Type: text/xml; charset=\"utf-8\"\r\nContent-Length: " +
                std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
}

std::string Out(const testing::WireResponse& r, const std::string& name) {
  const SoapAction answer = ParseSoapAction(r.body);
  const std::string* value = answer.Argument(name);
  return value ? *value : "<no " + name + ">";
}

std::string Attribute(const XmlElement& e, const std::string& name) {
  for (const auto& [n, v] : e.attributes) {
    if (n == name) return v;
  }
  return {};
}

// What a player was told of one file: its res elements and Samsung's elements.
struct Told {
  std::vector<std::string> protocolInfos;  // the res elements', in order
  std::vector<std::string> urls;           // theirs
  std::string url;                         // the first res's
  bool captionElements = false;
  std::string dcmInfo;
};

Told ItemOf(const std::string& didl, const std::string& title) {
  Told told;
  for (const XmlElement& item : ParseXml(didl).children) {
    if (item.Child("title") == nullptr || item.Child("title")->text != title) continue;
    for (const XmlElement& e : item.children) {
      if (e.name == "res") {
        told.protocolInfos.push_back(Attribute(e, "protocolInfo"));
        told.urls.push_back(e.text);
        if (told.url.empty()) told.url = e.text;
      }
      if (e.name == "CaptionInfoEx") told.captionElements = true;
      if (e.name == "dcmInfo") told.dcmInfo = e.text;
    }
  }
  return told;
}

std::string MimeOf(const std::string& protocolInfo) {
  const std::size_t a = protocolInfo.find(':', protocolInfo.find(':') + 1);
  return protocolInfo.substr(a + 1, protocolInfo.find(':', a + 1) - a - 1);
}

// The file's answer to a HEAD as players send it before playing.
testing::WireResponse Head(std::uint16_t port, const std::string& headers, const std::string& url) {
  return testing::Exchange(
      port, testing::Request("HEAD", url.substr(url.find("/?")),
                             headers + "getcontentFeatures.dlna.org: 1\r\nConnection: close\r\n"));
}

struct Persona {
  const char* name;
  std::string controlHeaders;  // on its SOAP requests
  std::string mediaHeaders;    // on its requests for a file
  std::string browseArgs;      // its Browse arguments as it writes them ("@" = the folder's id)
  const char* mkvMime;
  const char* aviMime;
  bool mp3Profile;
  bool captionElements;   // Samsung's sec: elements for the film's subtitle
  int subtitleRes;        // res elements of subtitles
  const char* assMime;    // the type the SubStation Alpha one is offered and served as ("": none)
  bool bookmark;          // the resume position in sec:dcmInfo
};

const std::string kSamsungAgent = "User-Agent: SEC_HHP_[TV] UE40ES6100/1.0 DLNADOC/1.50\r\n";
const std::string kStandardBrowse =
    "<ObjectID>@</ObjectID><BrowseFlag>BrowseDirectChildren</BrowseFlag><Filter>*</Filter>"
    "<StartingIndex>0</StartingIndex><RequestedCount>0</RequestedCount><SortCriteria></SortCriteria>";

const Persona kPersonas[] = {
    {"Samsung TV", kSamsungAgent, kSamsungAgent,
     "\r\n<ObjectID>@</ObjectID>\r\n<BrowseFlag>BrowseDirectChildren</BrowseFlag>\r\n<Filter>"
     "dc:title,dc:date,upnp:class,res,res@size,res@duration,sec:CaptionInfo,sec:CaptionInfoEx,"
     "sec:dcmInfo</Filter>\r\n<StartingIndex>0</StartingIndex>\r\n<RequestedCount>30"
     "</RequestedCount>\r\n<SortCriteria>+dc:title</SortCriteria>\r\n",
     "video/x-mkv", "video/x-msvideo", true, true, 0, "", true},
    {"LG TV", "User-Agent: Linux/2.6.39 UPnP/1.0 DLNADOC/1.50 LGE_DLNA_SDK/1.6.0 [TV][2013]\r\n",
     "User-Agent: LG Player 1.0\r\nX-AV-Client-Info: LGE_DLNA_SDK/1.6.0\r\n", kStandardBrowse,
     "video/x-matroska", "video/x-msvideo", true, false, 2, "text/x-ssa", false},
    {"Sony BRAVIA",
     "User-Agent: UPnP/1.0 DLNADOC/1.50\r\nX-AV-Client-Info: av=5.0; cn=\"Sony Corporation\"; "
     "mn=\"BRAVIA KDL-40EX720\"; mv=\"1.7\";\r\n",
     "User-Agent: UPnP/1.0 DLNADOC/1.50\r\nX-AV-Client-Info: av=5.0; cn=\"Sony Corporation\"; "
     "mn=\"BRAVIA KDL-40EX720\"; mv=\"1.7\";\r\n",
     kStandardBrowse, "video/x-matroska", "video/x-msvideo", true, false, 2, "text/x-ssa", false},
    {"Panasonic TV", "User-Agent: Panasonic MIL DLNA CP UPnP/1.0 DLNADOC/1.50\r\n",
     "User-Agent: Panasonic MIL DLNA CP UPnP/1.0 DLNADOC/1.50\r\n", kStandardBrowse,
     "video/x-matroska", "video/x-msvideo", true, false, 2, "text/x-ssa", false},
    {"Xbox 360", "User-Agent: Xbox/2.0.17150.0 UPnP/1.0 Xbox/2.0.17150.0\r\n",
     "User-Agent: NSPlayer/12.00.17150.0000 WMFSDK/12.00.17150.0000\r\n", kStandardBrowse,
     "video/x-matroska", "video/avi", false, false, 2, "text/x-ssa", false},
    {"PlayStation 3",
     "User-Agent: UPnP/1.0 DLNADOC/1.50\r\nX-AV-Client-Info: av=5.0; cn=\"Sony Computer "
     "Entertainment Inc.\"; mn=\"PLAYSTATION 3\"; mv=\"1.0\";\r\n",
     "User-Agent: PLAYSTATION 3\r\n", kStandardBrowse, "video/x-matroska", "video/avi", true,
     false, 2, "text/x-ssa", false},
    {"PlayStation 4", "User-Agent: MediaPlayer/2.50 UPnP/1.0 DLNADOC/1.50 (PlayStation 4)\r\n",
     "User-Agent: libhttp/2.51 (PlayStation 4)\r\n", kStandardBrowse, "video/x-matroska",
     "video/avi", true, false, 2, "text/x-ssa", false},
    {"Kodi", "User-Agent: UPnP/1.0 DLNADOC/1.50 Kodi\r\n",
     "User-Agent: Kodi/20.2 (X11; Linux x86_64) Debian/12 HTTP/1.1\r\n", kStandardBrowse,
     "video/x-matroska", "video/x-msvideo", true, false, 2, "text/ssa", false},
    {"BubbleUPnP", "User-Agent: BubbleUPnP UPnP/1.1\r\n",
     "User-Agent: BubbleUPnP/3.7 (Linux; Android 13)\r\n", kStandardBrowse, "video/x-matroska",
     "video/x-msvideo", true, false, 2, "text/x-ssa", false},
    // VLC browses through its UPnP library, whose name is all its SOAP requests carry: its
    // listing is the unknown player's; its file requests name it.
    {"VLC", "User-Agent: Linux/6.1.0, UPnP/1.0, Portable SDK for UPnP devices/1.14.15\r\n",
     "User-Agent: VLC/3.0.18 LibVLC/3.0.18\r\n", kStandardBrowse, "video/x-matroska",
     "video/x-msvideo", true, true, 1, "", false},
    // A player no row names: the answers of a server that knows none.
    {"unknown", "User-Agent: gupnp-av-cp GUPnP/1.6.3 DLNADOC/1.50\r\n", "", kStandardBrowse,
     "video/x-matroska", "video/x-msvideo", true, true, 1, "", false},
};

TEST(Players, EachFamilyIsAnsweredAsItNeeds) {
  PersonaServer s;
  const std::uint16_t port = s.Port();
  // A Samsung TV opens with its feature list and leaves a film at 12:34.
  const testing::WireResponse features =
      Control(port, kSamsungAgent, "X_GetFeatureList",
              "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
              "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\">\r\n<s:Body>\r\n"
              "<u:X_GetFeatureList xmlns:u=\"urn:schemas-upnp-org:service:ContentDirectory:1\"/>"
              "\r\n</s:Body>\r\n</s:Envelope>");
  ASSERT_EQ(features.status, 200) << features.body;
  const XmlElement list = ParseXml(Out(features, "FeatureList"));
  ASSERT_EQ(list.name, "Features");
  const XmlElement* basic = list.Child("Feature");
  ASSERT_NE(basic, nullptr);
  EXPECT_EQ(Attribute(*basic, "name"), "samsung.com_BASICVIEW");
  std::vector<std::string> views;
  for (const XmlElement& c : basic->children) views.push_back(Attribute(c, "id") + " " + Attribute(c, "type"));
  EXPECT_EQ(views, (std::vector<std::string>{"0 object.item.videoItem", "0 object.item.audioItem",
                                             "0 object.item.imageItem"}));
  const testing::WireResponse mark = Control(
      port, kSamsungAgent, "X_SetBookmark",
      Envelope("X_SetBookmark", "<CategoryType>VIDEO</CategoryType><RID>0</RID><ObjectID>" +
                                    s.IdOf("film.mkv") + "</ObjectID><PosSecond>754</PosSecond>"));
  EXPECT_EQ(mark.status, 200) << mark.body;

  for (const Persona& p : kPersonas) {
    std::string args = p.browseArgs;
    args.replace(args.find('@'), 1, s.FolderId());
    const testing::WireResponse browse = Control(port, p.controlHeaders, "Browse", Envelope("Browse", args));
    ASSERT_EQ(browse.status, 200) << p.name << ": " << browse.body;
    const std::string didl = Out(browse, "Result");
    const Told film = ItemOf(didl, "film.mkv"), avi = ItemOf(didl, "old.avi"),
               song = ItemOf(didl, "song.mp3");
    ASSERT_FALSE(film.protocolInfos.empty() || avi.protocolInfos.empty() ||
                 song.protocolInfos.empty()) << p.name << ": " << didl;
    EXPECT_EQ(MimeOf(film.protocolInfos[0]), p.mkvMime) << p.name;
    EXPECT_EQ(MimeOf(avi.protocolInfos[0]), p.aviMime) << p.name;
    EXPECT_EQ(song.protocolInfos[0].find("DLNA.ORG_PN=MP3;") != std::string::npos, p.mp3Profile)
        << p.name;
    EXPECT_EQ(film.captionElements, p.captionElements) << p.name;
    EXPECT_EQ(static_cast<int>(film.protocolInfos.size()) - 1, p.subtitleRes) << p.name;
    std::string assMime, assUrl;
    for (std::size_t i = 1; i < film.urls.size(); ++i) {
      if (!film.urls[i].ends_with(".ass")) continue;
      assMime = MimeOf(film.protocolInfos[i]);
      assUrl = film.urls[i];
    }
    EXPECT_EQ(assMime, p.assMime) << p.name;
    EXPECT_EQ(film.dcmInfo, p.bookmark ? "BM=754" : "") << p.name;

    // The files' own answers name them as the listing did.
    const testing::WireResponse mkv = Head(port, p.mediaHeaders, film.url);
    EXPECT_EQ(mkv.status, 200) << p.name;
    EXPECT_EQ(mkv.Header("Content-Type"), p.mkvMime) << p.name;
    EXPECT_EQ(Head(port, p.mediaHeaders, avi.url).Header("Content-Type"), p.aviMime) << p.name;
    if (!assUrl.empty()) {
      EXPECT_EQ(Head(port, p.mediaHeaders, assUrl).Header("Content-Type"), p.assMime) << p.name;
    }
    const std::string features = Head(port, p.mediaHeaders, song.url).Header("contentFeatures.dlna.org");
    EXPECT_EQ(features.rfind("DLNA.ORG_PN=MP3;", 0) == 0, p.mp3Profile) << p.name << ": " << features;
  }
}

}  // namespace
}  // namespace tovi::dlna
