// The user's manual shown on the help page, line by line. Leading blanks are
// part of the lines; the last three lines are one blank, three blanks and empty.
#pragma once

#include <array>
#include <string_view>

namespace app {

inline constexpr std::array<std::string_view, 16> kHelpLines = {
    "這是一個發展中的備份檔案的程式,以下是使用說明",
    "備份",
    "   1.目前設定兩種備份的狀況,一種是建立新的備份檔,另一種是",
    "      備份至已存在的備份檔中",
    "   2.備份至新檔中可以指定檔名與限制的大小",
    "   3.備份至舊檔中可以選擇,是否將以變動的檔案,檔案日期大於",
    "      紀錄中的檔案時間,也可以選擇將有變動的檔案存至新的備",
    "      份檔中",
    "   限制,若要將以變更的檔案存至新的備份檔中,則在建立新的備",
    "      分檔時不能選擇限制大小以免發生檢查錯誤",
    "回覆",
    "   將選擇的備份檔回複製指定目錄中,若沒有選擇指定的目錄則",
    "   會回覆,至來源目錄中",
    " ",
    "   ",
    "",
};

}  // namespace app
