#pragma once

// The recording file type (".crd") for the current user, the freedesktop way, so that a
// double-click on a recording in a file manager opens it in the player with the recording
// icon. Everything lives in the user's own folders; nothing system-wide is written:
//
//   $XDG_DATA_HOME/mime/packages/qrv-recording.xml    the MIME type application/x-qrv-recording
//                                                     with the glob *.crd
//   $XDG_DATA_HOME/applications/qrv-brisaplayer.desktop
//                                                     the player: Exec=<player path> %f,
//                                                     MimeType=application/x-qrv-recording;
//                                                     X-QRV-DefaultIcon=<icon source>,0
//   $XDG_CONFIG_HOME/mimeapps.list                    [Default Applications]
//                                                     application/x-qrv-recording=qrv-brisaplayer.desktop
//   $XDG_DATA_HOME/icons/hicolor/<n>x<n>/mimetypes/application-x-qrv-recording.png
//   $XDG_DATA_HOME/icons/hicolor/<n>x<n>/apps/qrv-brisaplayer.png
//
// ($XDG_DATA_HOME defaults to ~/.local/share, $XDG_CONFIG_HOME to ~/.config.) After writing,
// update-mime-database and update-desktop-database run on the user's folders when they are
// installed; that is how the desktop learns that associations changed.
//
// The read routines follow the lookup a file manager makes: the extension's MIME type from
// the compiled glob lists (the user's first, then $XDG_DATA_DIRS), its default application
// from the mimeapps.list files in their order of precedence, and that application's .desktop
// file. A value that starts with a double quote reads as the text up to the next double
// quote (empty when there is none); any other value reads whole.
//
// Threads: the main thread (it may run the two update programs, which take a moment).

#include <string>

namespace qrv {

// The extension of recordings, with its dot, and their MIME type.
inline constexpr const char* RecordingExtension = ".crd";
inline constexpr const char* RecordingMimeType = "application/x-qrv-recording";
// The desktop file id of the player.
inline constexpr const char* PlayerDesktopId = "qrv-brisaplayer.desktop";

// The program part of the registered open command of `extWithDot`: the Exec value of the
// default application's desktop file, after the quote rule. Empty when the extension has no
// MIME type, the type has no default application, or its desktop file cannot be read.
std::string ReadRegisteredCommand(const std::string& extWithDot);

// The registered icon of `extWithDot`: the X-QRV-DefaultIcon value of the default
// application's desktop file (its Icon value when it has none), after the quote rule.
std::string ReadRegisteredIcon(const std::string& extWithDot);

// Registers `ext` (without its dot) as opened by `exePath` with the icon `iconPath` (a
// picture file Qt can read: .ico, .png, .svg; the recording icon built into the player when
// it is empty or cannot be read). Errors are swallowed; files written before an error stay.
void RegisterFileType(const std::string& ext, const std::string& exePath, const std::string& iconPath);

// The start-up check: registers the recording type for `exePath` unless it is registered
// for it already. The icon is `exeDir` + "BrisaFile.ico" when that file exists (and then a
// registered icon that does not name it also calls for registering), else `exePath`, which
// stands for the program's own icon. True when it registered. Never throws.
bool CheckFileAssociation(const std::string& exePath, const std::string& exeDir);

// The quote rule of the read routines, for tests.
std::string ApplyRegisteredQuoteRule(const std::string& value);

} // namespace qrv
