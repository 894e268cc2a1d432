// The posters found beside the files as the disk holds them.
#include "local/art_beside.h"

#include <gtest/gtest.h>

#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

#include "platform/files.h"
#include "support/temp_dir.h"

namespace tovi::local {
namespace {

// Windows Media Player keeps an album's picture as "Folder.jpg", hidden and system, which the
// folder's listing leaves out: it still stands for the folder's music and videos.
TEST(FolderArt, APosterWindowsMediaPlayerHidStandsForItsFolder) {
#ifndef _WIN32
  GTEST_SKIP() << "a file is hidden by its attributes on Windows alone";
#else
  const tovi::testing::TempDir dir;
  const std::string poster = dir.Write("Folder.jpg", "\xFF\xD8\xFF\xD9");
  const std::string song = dir.Write("song.mp3", "song");
  const std::string film = dir.Write("film.mkv", "film");
  ASSERT_TRUE(SetFileAttributesA(poster.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
  EXPECT_EQ(fs::NameKey(ArtOfItem(song, MediaKind::Audio, fs::kSeparator)), fs::NameKey(poster));
  EXPECT_EQ(fs::NameKey(ArtOfItem(film, MediaKind::Video, fs::kSeparator)), fs::NameKey(poster));
#endif
}

}  // namespace
}  // namespace tovi::local
