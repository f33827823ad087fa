// Message texts: each text converted independently from Unicode to code page
// 932 must equal the library's bytes.
#include <iconv.h>

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "api/messages.h"

namespace ravelo {
namespace {

std::string ToCp932(const char* utf8) {
  iconv_t cd = iconv_open("CP932", "UTF-8");
  std::string out(256, '\0');
  char* in = const_cast<char*>(utf8);
  size_t inLeft = std::strlen(utf8), outLeft = out.size();
  char* o = out.data();
  EXPECT_NE(iconv(cd, &in, &inLeft, &o, &outLeft), static_cast<size_t>(-1));
  iconv_close(cd);
  out.resize(out.size() - outLeft);
  return out;
}

struct Expected {
  const char* text;
  size_t bytes;
};

const Expected kExpected[kResultCodeCount] = {
    {"エラーなし", 10},
    {"入力ファイルＥＯＦ検出", 22},
    {"Q38ファイルパスの指定がありません。", 35},
    {"Q38ファイルが存在しません。", 27},
    {"Q38ファイルの拡張子でありません。", 33},
    {"保存先フォルダパスの指定がありません。", 38},
    {"保存先フォルダが存在しません。", 30},
    {"作成するCSVファイルの種類が指定範囲外です。", 43},
    {"CSVファイル作成方法の種類が指定範囲外です。", 43},
    {"Q38ファイルのオープンに失敗しました。", 37},
    {"保存先フォルダの下のCSVフォルダ作成に失敗しました。", 51},
    {"CSVフォルダの下のCSVサブフォルダ作成に失敗しました。", 52},
    {"Q38ファイルのIDとサイズ情報の読込みに失敗しました。", 51},
    {"Q38ファイルのヘッダ内のメモ情報の先頭へのシークに失敗しました。", 63},
    {"Q38ファイルのヘッダ内のメモ情報の読込みに失敗しました。", 55},
    {"Q38ファイルの記録データの先頭へのシークに失敗しました。", 55},
    {"Q38ファイルの記録データの読込みに失敗しました。", 47},
    {"Q38ファイルの記録データのチャンネル番号が範囲外です。", 53},
    {"Q38ファイルの記録データの記録モード番号が範囲外です。", 53},
    {"Q38ファイルの記録データの記録モード番号に該当がありません。", 59},
    {"Q38ファイルの記録データのデータ値が範囲外です。", 47},
    {"ファイルへのデータ書込みに失敗しました。", 40},
    {"CSVファイルのオープンに失敗しました。", 37},
    {"TMPファイルのオープンに失敗しました", 35},
    {"ファイルを削除に失敗しました。", 30},
    {"ファイルをリネームに失敗しました。", 34},
    {"CSVファイルの文字列（１行分）の読込みに失敗しました。", 53},
};

TEST(Messages, EveryTextIsItsCodePage932Bytes) {
  for (int code = 0; code < kResultCodeCount; ++code) {
    SCOPED_TRACE(code);
    std::string expected = ToCp932(kExpected[code].text);
    EXPECT_EQ(expected.size(), kExpected[code].bytes);
    EXPECT_EQ(std::string(kMessageTable[code]), expected);
    // The rest of the slot is zero.
    for (size_t i = expected.size(); i < kMessageSlotSize; ++i) {
      ASSERT_EQ(kMessageTable[code][i], '\0');
    }
  }
}

TEST(Messages, ErrMsgGetCopiesTextAndZeroOnly) {
  char buffer[80];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(ErrMsgGet(13, buffer), 1);
  EXPECT_EQ(std::strlen(buffer), 63u);
  EXPECT_EQ(buffer[64], '#');  // not the whole slot
  EXPECT_EQ(ErrMsgGet(0, buffer), 1);
  EXPECT_EQ(std::string(buffer), ToCp932("エラーなし"));
  EXPECT_EQ(ErrMsgGet(26, buffer), 1);
  EXPECT_EQ(ErrMsgGet(1, buffer), 1);
}

TEST(Messages, CodesOutsideTheTableLeaveTheBufferAlone) {
  char buffer[80];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(ErrMsgGet(27, buffer), 0);
  EXPECT_EQ(ErrMsgGet(-1, buffer), 0);
  EXPECT_EQ(ErrMsgGet(INT32_MIN, buffer), 0);
  for (char c : buffer) ASSERT_EQ(c, '#');
}

}  // namespace
}  // namespace ravelo
