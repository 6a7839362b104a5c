// printf-style filling of the string table's texts ("%s", "%d", "%.1f%%")
// without handing a translated format to printf: each conversion takes the
// next argument in order and a mismatch between a translation and its
// arguments can only give a wrong text, never undefined behaviour.
//
//   formatText(str(130), {uploaded});          // "成功上传 3 个文件"
//   formatText(str(211), {name, 42.5, speed}); // "↑ a.txt 42.5% 1.00KB/s"
#pragma once

#include <QString>

#include <initializer_list>
#include <variant>

namespace varnelo::desktop {

using FormatArg = std::variant<QString, long long, double>;

// Conversions: %s, %d / %u / %ld / %lld / %I64d, %f with an optional
// precision (%.1f), %% for a percent sign. Missing arguments give nothing.
QString formatText(const QString& format, std::initializer_list<FormatArg> args);

// A menu text as a window title: without its access key, whether written
// "关于(&A)" or "&About"; "&&" stays one "&".
QString withoutMnemonic(const QString& menuText);

}  // namespace varnelo::desktop
