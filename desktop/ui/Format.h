// Texts of sizes, speeds, percentages and file names as the tray shows them.
// Pure functions, callable from any thread.
#pragma once

#include <QString>

#include <cstdint>

namespace varnelo::desktop {

// "1.00MB/s" from 1,048,576 up, "1024.00KB/s" from 1,024 up, else "1023B/s".
QString speedText(uint64_t bytesPerSecond);
// "1.00GB", "1.00MB", "1.00 KB" (with a blank), "1023 B" (with a blank).
QString sizeText(int64_t bytes);
// transferred × 100 / total, at most 100; 0 when total is 0.
double transferPercent(uint64_t transferred, uint64_t total);
// The file name without its folder; a name of more than 24 characters becomes
// its first 16 characters, "..." and its last 5.
QString shortFileName(const QString& path);

}  // namespace varnelo::desktop
