#pragma once

// Small routines shared by the player and the mixer: dotted-version comparison, the
// programs' version text, the TCP no-delay switch, the user's documents folder and the
// sound-server test.

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace qrv {

// Finds the first `separator` in `text`. `head` gets the part before it (the whole text
// when there is none); with `remove`, `text` keeps only the part after it (empty when
// there is none).
void SplitFirst(std::string& text, std::string_view separator, bool remove, std::string& head);

// Compares two dotted versions part by part as unsigned 16-bit numbers: -1, 0 or 1.
// A missing, empty or non-numeric part counts as 0, so "1.2" equals "1.2.0" and
// "1.10" is above "1.9"; only the low 16 bits of a part count ("65536" reads as 0).
int CompareVersions(std::string_view a, std::string_view b);

// True when version `a` is at least version `b`.
bool VersionAtLeast(std::string_view a, std::string_view b);

struct TFileVersion {
    uint16_t Major = 0;
    uint16_t Minor = 0;
    uint16_t Release = 0;
    uint16_t Build = 0;
};

// The running program's version, compiled in from the build.
TFileVersion GetFileVersionParts();

// The date separator of the user's locale (LC_TIME): the first punctuation or blank
// that follows the first field of the locale's date format; "/" when there is none.
std::string GetDateSeparator();

// `when` as local "yyyy/mm/dd", where "/" is the locale's date separator.
std::string FormatFileDate(std::time_t when, std::string_view separator);

// The last-modification date of the file at `path` as FormatFileDate gives it with the
// locale's separator; empty when the file cannot be examined.
std::string GetFileDateText(const std::string& path);

// "major.minor.release  (Build build , date)" for the running executable, for example
// "6.0.0  (Build 0 , 2010-03-07)".
std::string GetVersionString();

// Path of the running executable (from /proc/self/exe); empty when it cannot be read.
std::string GetExecutablePath();

// Switches the send delay of a TCP socket off (`on`) or back on. True when the call worked.
bool SetTcpNoDelay(int socket, bool on);

// The user's documents folder by the XDG user-dirs rules: XDG_DOCUMENTS_DIR from
// $XDG_CONFIG_HOME/user-dirs.dirs (a "$HOME/..." or absolute value, shell quoting undone),
// else $HOME/Documents when it is a folder, else the home folder itself. A configured value
// that is exactly "$HOME" or "$HOME/" means "no documents folder" and gives the home folder.
// Empty only when HOME is unset or not absolute. The folder is not created.
std::string GetMyDocumentsPath();

// True when a PulseAudio-compatible sound server (PulseAudio itself or PipeWire's
// pulse service) answers: PULSE_SERVER's unix socket when the variable names one, else
// $XDG_RUNTIME_DIR/pulse/native. A PULSE_SERVER that names a network server counts as
// reachable without a connection attempt (that would block on an unreachable host). This
// chooses the system-volume back-end: the endpoint one needs such a server.
bool IsVistaOrLater();

} // namespace qrv
