// The application's one string table: every text a window, balloon or
// message box shows, by its numeric id. The source texts are the product's
// own Simplified Chinese; varnelo_en.ts translates them (context "Strings")
// for desktops whose language is not Chinese. Ids below 10000 are the
// resource ids the other parts of the application refer to; texts that have
// no resource id get one of our own from 10000 up (10000-10099 for the
// application core, 10100 and above for the windows).
//
//   QMessageBox::critical(nullptr, str(kStrError), str(kStrInitFailed));
//
// Safe from any thread once a QCoreApplication exists (translations are
// installed on the UI thread before any window is made).
#pragma once

#include <QString>

#include <vector>

namespace varnelo::desktop {

// Ids used by the application core itself.
enum StringId : int {
  kStrInitFailed = 127,   // "程序初始化失败"
  kStrError = 128,        // "错误"
  kStrSendToTitle = 140,  // folder chooser of "-sendto"
  kStrUpgradingTitle = 154,
  kStrUpgradingText = 155,
  kStrShutdownCountdown = 178,
  kStrShutdownTitle = 10000,     // "Varnelo同步完成"
  kStrShutdownQuestion = 10001,  // "同步已完成，您确定要立即关机吗？"
  kStrShutdownNow = 10002,       // "立即关机(S)"
  kStrCancel = 10003,            // "取消(&C)"
  kStrOtherFrontEnd = 10004,     // another front end holds the data folder
  kStrOtherFrontEndTitle = 10005,
};

// The translated text of `id`; an empty text (and a warning in the log) for
// an id the table does not hold.
QString str(int id);

// The untranslated source text of `id`, or null.
const char* sourceText(int id);

// Every id of the table, in ascending order (for the translation checks).
std::vector<int> allStringIds();

}  // namespace varnelo::desktop
