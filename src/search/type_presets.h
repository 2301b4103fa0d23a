#pragma once

#include <array>
#include <string>

namespace quelvane {

// The file-type items of the settings window and the extension list each puts in place.
struct TypePreset {
  const char* item;        // the item's text in the window
  const char* cli_name;    // its name on the command line; empty for none
  const char* extensions;  // the text put into the extension box
};

inline constexpr std::array<TypePreset, 9> kTypePresets = {{
    {"mp3文件", "mp3", "mp3"},
    {"视频文件", "video", "mp4,mov,avi,mkv,flv,wmv,asf,rmvb"},
    {"图片文件", "picture", "jpg,bmp,gif,png"},
    {"word文件", "word", "doc,docx"},
    {"excel文件", "excel", "xls,xlsx"},
    {"压缩文件", "archive", "rar,zip,cab,iso,7z"},
    {"可执行程序（.exe）", "exe", "exe"},
    {"纯文本文件", "text", "txt"},
    {"自定义文件类型", "", "自定义文件类型用,隔开。（删除此文字）"},
}};

}  // namespace quelvane
