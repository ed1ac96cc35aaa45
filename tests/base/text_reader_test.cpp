#include "base/text_reader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "base/errors.h"
#include "tests/support/testfiles.h"

namespace lumora {
namespace {

// The lines of a text as SkipLine steps through them, each read as a token
// list: CR LF, LF and a CR alone all end a line.
std::vector<std::vector<std::string>> LinesOf(const std::string& path) {
  TextReader in(path);
  std::vector<std::vector<std::string>> lines;
  while (!in.Eof()) {
    std::vector<std::string> tokens;
    std::string token;
    while (in.ReadTokenOnLine(token)) tokens.push_back(token);
    lines.push_back(tokens);
    in.SkipLine();
  }
  return lines;
}

TEST(TextReader, LineEndsTokensAndLineNumbers) {
  testing::TempFolder dir;
  using Lines = std::vector<std::vector<std::string>>;
  const std::pair<const char*, Lines> cases[] = {
      {"a b\r\nc\r\n", {{"a", "b"}, {"c"}}},
      {"a b\nc", {{"a", "b"}, {"c"}}},
      {"a\rb\r\n\r\nc", {{"a"}, {"b"}, {}, {"c"}}},
      {" \t x \t\n\n", {{"x"}, {}}},
      {"", {}},
  };
  for (size_t c = 0; c < std::size(cases); ++c) {
    const std::string path = dir.File("t.txt");
    testing::WriteFile(path, cases[c].first);
    EXPECT_EQ(LinesOf(path), cases[c].second) << "case " << c;
  }
  const std::string path = dir.File("n.txt");
  testing::WriteFile(path, "1\r\n2\n3\r4");
  TextReader in(path);
  for (int line = 1; line <= 4; ++line) {
    EXPECT_EQ(in.LineNumber(), line);
    in.SkipLine();
  }
  EXPECT_TRUE(in.Eof());
}

TEST(TextReader, FieldsStopAtTheLineEndAndTokensCrossIt) {
  testing::TempFolder dir;
  const std::string path = dir.File("f.txt");
  testing::WriteFile(path, "abcdef\r\n\r\n  12345 6\n");
  TextReader in(path);
  EXPECT_EQ(in.ReadText(4), "abcd");
  EXPECT_EQ(in.ReadText(10), "ef");  // not past the line end
  EXPECT_TRUE(in.AtLineEnd());
  std::string token;
  ASSERT_TRUE(in.ReadToken(token, 3));  // over the empty line
  EXPECT_EQ(token, "123");
  ASSERT_TRUE(in.ReadToken(token));
  EXPECT_EQ(token, "45");
  in.SkipPastLineEnd();  // past " 6\n"
  EXPECT_FALSE(in.ReadToken(token));
  EXPECT_EQ(in.Peek(), -1);
}

TEST(TextReader, ReadsLargeFilesAcrossItsBlocksWhole) {
  testing::TempFolder dir;
  std::string text;
  for (int i = 0; i < 20000; ++i) text += "line " + std::to_string(i) + "\r\n";
  const std::string path = dir.File("big.txt");
  testing::WriteFile(path, text);
  TextReader whole(path);
  EXPECT_EQ(whole.ReadAll(), text);
  TextReader lines(path);
  int count = 0;
  std::string last;
  for (std::string word; lines.ReadTokenOnLine(word); lines.SkipLine(), ++count)
    lines.ReadTokenOnLine(last);
  EXPECT_EQ(count, 20000);
  EXPECT_EQ(last, "19999");
}

// The file is read in blocks of 64 KiB: fields, tokens and line ends read
// the same wherever a block ends among them.
TEST(TextReader, FieldsReadTheSameWhereverABlockEndsAmongThem) {
  constexpr size_t kBlock = 64 * 1024;
  const std::string probe = "abcdefgh 12345678\r\n\r\nxyz";
  testing::TempFolder dir;
  for (size_t into = 0; into <= probe.size(); ++into) {
    SCOPED_TRACE(into);
    const std::string path = dir.File("b.txt");
    testing::WriteFile(path, std::string(kBlock - into - 1, '-') + "\n" + probe);
    TextReader in(path);
    in.SkipPastLineEnd();
    EXPECT_EQ(in.ReadText(4), "abcd");
    std::string token;
    ASSERT_TRUE(in.ReadToken(token));
    EXPECT_EQ(token, "efgh");
    ASSERT_TRUE(in.ReadToken(token, 5));
    EXPECT_EQ(token, "12345");
    ASSERT_TRUE(in.ReadToken(token));
    EXPECT_EQ(token, "678");
    EXPECT_TRUE(in.AtLineEnd());
    in.SkipPastLineEnd();
    EXPECT_EQ(in.ReadText(10), "");
    in.SkipPastLineEnd();
    EXPECT_EQ(in.ReadText(10), "xyz");
    EXPECT_FALSE(in.ReadToken(token));
    EXPECT_TRUE(in.Eof());

    // The same fields as views, which spill over where a block ends in them.
    TextReader views(path);
    std::string spill;
    views.SkipPastLineEnd();
    EXPECT_EQ(views.ReadText(4, spill), "abcd");
    EXPECT_EQ(views.ReadToken(64, spill), "efgh");
    EXPECT_EQ(views.ReadToken(5, spill), "12345");
    EXPECT_EQ(views.ReadToken(64, spill), "678");
    views.SkipPastLineEnd();
    EXPECT_EQ(views.ReadText(10, spill), "");
    views.SkipPastLineEnd();
    EXPECT_EQ(views.ReadText(10, spill), "xyz");
    EXPECT_EQ(views.ReadToken(64, spill), std::nullopt);
  }
}

TEST(TextReader, MissingFilesAndFoldersAreInputErrors) {
  testing::TempFolder dir;
  for (const std::string& path : {dir.File("missing.txt"), dir.path()}) {
    try {
      TextReader in(path);
      ADD_FAILURE() << path;
    } catch (const InOutError& e) {
      EXPECT_EQ(std::string(e.what()).rfind("Cannot open file \"" + path + "\": ", 0), 0u)
          << e.what();
    }
  }
}

// A device and a FIFO would be read forever or wait for a writer: they are
// refused before they are opened.
TEST(TextReader, WhatIsNoRegularFileIsRefused) {
  testing::TempFolder dir;
  const std::string fifo = dir.File("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {std::string("/dev/zero"), fifo}) {
    try {
      TextReader in(path);
      ADD_FAILURE() << path;
    } catch (const InOutError& e) {
      EXPECT_EQ(std::string(e.what()),
                "Cannot open file \"" + path + "\": it is not a regular file");
    }
  }
}

std::string Utf16(const std::string& text, bool bigEndian) {
  std::string wide;
  for (char c : text) wide += bigEndian ? std::string{'\0', c} : std::string{c, '\0'};
  return wide;
}

std::string Utf32(const std::string& text) {
  std::string wide;
  for (char c : text) wide += std::string{c, '\0', '\0', '\0'};
  return wide;
}

// A UTF-8 mark is skipped; UTF-16 and UTF-32, with a mark or without one,
// are refused by name, not read as a text of NUL-separated characters.
TEST(TextReader, EncodingsOtherThanSingleByteTextAreNamed) {
  testing::TempFolder dir;
  const std::string text = "811.5311\t500\r\n810.3693\t127\r\n";
  const std::pair<std::string, const char*> cases[] = {
      {"\xEF\xBB\xBF" + text, nullptr},
      {text, nullptr},
      {"\xFF\xFE" + Utf16(text, false), "UTF-16"},
      {"\xFE\xFF" + Utf16(text, true), "UTF-16"},
      {Utf16(text, false), "UTF-16"},
      {Utf16(text, true), "UTF-16"},
      {std::string("\xFF\xFE\0\0", 4) + Utf32(text), "UTF-32"},
      {Utf32(text), "UTF-32"},
  };
  const std::string path = dir.File("m.txt");
  for (size_t c = 0; c < std::size(cases); ++c) {
    SCOPED_TRACE(c);
    testing::WriteFile(path, cases[c].first);
    if (!cases[c].second) {
      EXPECT_EQ(LinesOf(path),
                (std::vector<std::vector<std::string>>{{"811.5311", "500"}, {"810.3693", "127"}}));
      continue;
    }
    try {
      TextReader in(path);
      ADD_FAILURE();
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()),
                "\"" + path + "\" is " + cases[c].second + " text; save it as UTF-8 or Latin-1");
    }
  }
}

// The line files step over whole lines whatever ends them.
TEST(TextReader, SkipPastLineEndTakesEveryLineEnd) {
  testing::TempFolder dir;
  for (const char* text : {"a\nb\nc", "a\r\nb\r\nc", "a\rb\rc", "a\r\nb\rc"}) {
    SCOPED_TRACE(::testing::PrintToString(text));
    testing::WriteFile(dir.File("t.txt"), text);
    TextReader in(dir.File("t.txt"));
    std::string token;
    for (const char* expected : {"a", "b", "c"}) {
      ASSERT_TRUE(in.ReadTokenOnLine(token));
      EXPECT_EQ(token, expected);
      in.SkipPastLineEnd();
    }
    EXPECT_TRUE(in.Eof());
  }
}

}  // namespace
}  // namespace lumora
