// Names in the order a file explorer shows them, the same on every build and locale.
#include "dlna/natural_order.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace tovi::dlna {
namespace {

// Each table is in the expected order; sorting any shuffle of it must give it back.
const std::vector<std::vector<std::string>> kOrders = {
    // Numbers by value, however long, leading zeros beside the plain number.
    {"Episode 1.mkv", "Episode 02.mkv", "Episode 2.mkv", "Episode 9.mkv", "Episode 10.mkv",
     "Episode 100.mkv", "Episode 99999999999999999999999.mkv",
     "Episode 100000000000000000000000.mkv"},
    {"0", "00", "000", "1", "01a", "1a", "2", "10"},
    // Letters without regard to case; equal ones by their bytes.
    {"a", "A.mkv", "a.mkv", "b", "B2", "b10", "Zebra"},
    // Space and punctuation before digits, digits before letters, a prefix before its longer.
    {"film", "film 2", "film-1", "film.mkv", "film1", "film2", "filmA"},
    // Cyrillic: "Серия 2" before "Серия 10", case-blind, Ё with Е, after Latin.
    {"Zorro", "\xD0\x90\xD0\xB1\xD0\xB2",                                 // Абв
     "\xD0\xB5\xD0\xB6",                                                   // еж
     "\xD0\x81\xD0\xB6\xD0\xB8\xD0\xBA",                                   // Ёжик
     "\xD0\xB5\xD0\xB7",                                                   // ез
     "\xD0\xA1\xD0\xB5\xD1\x80\xD0\xB8\xD1\x8F 2.mkv",                     // Серия 2
     "\xD1\x81\xD0\xB5\xD1\x80\xD0\xB8\xD1\x8F 3.mkv",                     // серия 3
     "\xD0\xA1\xD0\xB5\xD1\x80\xD0\xB8\xD1\x8F 10.mkv",                    // Серия 10
     "\xD0\xAF\xD0\xBD\xD0\xB2\xD0\xB0\xD1\x80\xD1\x8C"},                  // Январь
    // Latin-1 and Greek: an accented letter with its base letter, case-blind.
    {"cafe 2", "caf\xC3\xA9 3", "CAF\xC3\x89 10", "\xC3\xA9t\xC3\xA9", "ez",
     "\xCE\x86lfa", "\xCE\xB2\xCE\xAE\xCF\x84\xCE\xB1", "\xCE\x93\xCE\xAC\xCE\xBC\xCE\xB1"},
};

TEST(NaturalOrder, SortsNamesAsAFileExplorerShowsThem) {
  std::mt19937 random(31);
  for (const std::vector<std::string>& order : kOrders) {
    for (int round = 0; round < 5; ++round) {
      std::vector<std::string> names = order;
      std::shuffle(names.begin(), names.end(), random);
      std::sort(names.begin(), names.end(), NaturalLess);
      EXPECT_EQ(names, order);
    }
    for (std::size_t i = 0; i + 1 < order.size(); ++i) {
      EXPECT_TRUE(NaturalLess(order[i], order[i + 1])) << order[i] << " < " << order[i + 1];
      EXPECT_FALSE(NaturalLess(order[i + 1], order[i])) << order[i + 1] << " < " << order[i];
    }
  }
  // Bytes that are no UTF-8 still sort, and distinct names never tie.
  EXPECT_TRUE(NaturalLess("x\xE8", "x\xE9"));
  EXPECT_FALSE(NaturalLess("x\xE9", "x\xE9"));
}

}  // namespace
}  // namespace tovi::dlna
