#include <gtest/gtest.h>

#include <string>

#include "dupes/md5_hasher.h"

namespace quelvane {
namespace {

// The test suite of RFC 1321, appendix A.5.
struct Vector {
  std::string input;
  std::string digest;
};

const Vector kVectors[] = {
    {"", "d41d8cd98f00b204e9800998ecf8427e"},
    {"a", "0cc175b9c0f1b6a831c399e269772661"},
    {"abc", "900150983cd24fb0d6963f7d28e17f72"},
    {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
    {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
     "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
     "57edf4a22be3c955ac49da2e2107b67a"},
};

TEST(DupesMd5, KnownVectorsInOneGoAndPieceByPiece) {
  for (const Vector& v : kVectors) {
    EXPECT_EQ(Md5Hasher::DigestOf(v.input), v.digest) << v.input;
    // Pieces of every length from 1 to 7 give the same digest.
    for (size_t piece = 1; piece <= 7; ++piece) {
      Md5Hasher hasher;
      for (size_t at = 0; at < v.input.size(); at += piece) {
        hasher.Update(std::string_view(v.input).substr(at, piece));
      }
      hasher.Final();
      EXPECT_EQ(hasher.Text(), v.digest) << v.input << " in pieces of " << piece;
    }
  }
}

TEST(DupesMd5, CopyGoesOnFromTheSameStateWithoutDisturbingTheOriginal) {
  Md5Hasher original;
  original.Update("abcdefghijklm");
  Md5Hasher copy(original);
  copy.Final();
  EXPECT_EQ(copy.Text(), Md5Hasher::DigestOf("abcdefghijklm"));
  original.Update("nopqrstuvwxyz");
  original.Final();
  EXPECT_EQ(original.Text(), "c3fcd3d76192e4007dfb496cca67e13b");
}

TEST(DupesMd5, TextIsEmptyUntilFinalAndInitStartsOver) {
  Md5Hasher hasher;
  hasher.Update("garbage");
  EXPECT_EQ(hasher.Text(), "");
  hasher.Init();
  hasher.Update("abc");
  hasher.Final();
  EXPECT_EQ(hasher.Text(), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(DigestToText(hasher.Digest()), hasher.Text());
  hasher.Init();
  EXPECT_EQ(hasher.Text(), "");
}

TEST(DupesMd5, MovedFromHasherIsUsableAgain) {
  Md5Hasher a;
  a.Update("ab");
  Md5Hasher b(std::move(a));
  b.Update("c");
  b.Final();
  EXPECT_EQ(b.Text(), "900150983cd24fb0d6963f7d28e17f72");
  a.Init();  // NOLINT(bugprone-use-after-move): a moved-from hasher starts over on Init
  a.Update("a");
  a.Final();
  EXPECT_EQ(a.Text(), "0cc175b9c0f1b6a831c399e269772661");
}

}  // namespace
}  // namespace quelvane
