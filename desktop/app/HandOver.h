// The command line a second instance hands to the running one, and how the
// running one reads it: the switch (matched by prefix, case-sensitive, in
// the order below) and its argument (everything after the switch and one
// separating blank). Pure; any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace varnelo::desktop {

enum class HandOverSwitch {
  Empty,    // bring the main window to the front, or open the sync folder
  ExtLink,  // "-extlink PATH": publish a share link for PATH
  SendTo,   // "-sendto PATHS": copy the paths into a chosen folder of the sync folder
  Quit,     // "-quit"
  Uninst,   // "-uninst": exit at once
  Upgrade,  // "-upgrade": say so, then exit
  Other,    // as Empty
};

struct HandOver {
  HandOverSwitch kind = HandOverSwitch::Empty;
  std::string argument;
};

HandOver parseHandOver(std::string_view text);

// The text a second instance sends for its arguments (argv without the
// program): joined by blanks, an argument holding a blank in double quotes.
std::string joinArguments(const std::vector<std::string>& arguments);

// The message on the pipe: the joined arguments and a terminating NUL, so
// that even the empty command line is a message.
std::string handOverMessage(const std::vector<std::string>& arguments);
// The command line of a message (one terminating NUL removed).
std::string_view handOverText(std::string_view message);

// "-sendto"'s paths: each in double quotes or up to the next blank.
std::vector<std::string> splitPaths(std::string_view argument);
// "-extlink"'s one path (surrounding double quotes removed).
std::string singlePath(std::string_view argument);

// The remote path of `localPath` for a share link: "home/" and the part below
// `syncFolder` ("home/docs/a.txt"); "" when it does not lie below it.
std::string remotePathOf(const std::string& localPath, const std::string& syncFolder);

// Whether a handed-over message is taken: valid UTF-8 and at most 1,023
// characters (counted as the pipe always counted them, in UTF-16 units) in
// at most 2,048 bytes.
bool acceptableHandOver(std::string_view message);

}  // namespace varnelo::desktop
