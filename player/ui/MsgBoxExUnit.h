#pragma once

// MsgBoxEx: the player's message box, called with the flag values and answering the result
// codes of the usual system message box, but showing TTntMessageForm so that the caption
// and the Yes, No, OK and Cancel buttons come from the language table.

#include "TntDialogs2.h"

#include <QString>

class QWidget;

namespace qrv {

// Flag values understood by MsgBoxEx. Only the icon and the button set count; every other
// bit (default button, modality, MB_SETFOREGROUND and the like) is accepted and ignored.
inline constexpr unsigned MB_OK = 0x0;
inline constexpr unsigned MB_OKCANCEL = 0x1;
inline constexpr unsigned MB_ABORTRETRYIGNORE = 0x2;
inline constexpr unsigned MB_YESNOCANCEL = 0x3;
inline constexpr unsigned MB_YESNO = 0x4;
inline constexpr unsigned MB_RETRYCANCEL = 0x5;
inline constexpr unsigned MB_ICONERROR = 0x10;
inline constexpr unsigned MB_ICONQUESTION = 0x20;
inline constexpr unsigned MB_ICONWARNING = 0x30;
inline constexpr unsigned MB_ICONINFORMATION = 0x40;
inline constexpr unsigned MB_SETFOREGROUND = 0x10000;

// Results of MsgBoxEx.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDABORT = 3;
inline constexpr int IDRETRY = 4;
inline constexpr int IDIGNORE = 5;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

struct TMsgBoxKind {
    TMsgDlgType Type = TMsgDlgType::mtCustom;
    TMsgDlgButtons Buttons;
};

// The message type and button set that `flags` ask for:
//   icon, tested in this order: 0x40 information; 0x30 (both bits) warning; 0x20
//   confirmation; 0x10 error; none custom. The icon bits found are removed before
//   buttons, tested in this order: 5 (both bits) Cancel+Retry; 4 Yes+No; 3 (both bits)
//   Yes+No+Cancel; 2 Abort+Retry+Ignore; 1 OK+Cancel; else OK.
TMsgBoxKind DecodeMsgBoxFlags(unsigned flags);

// Shows the box modally over `owner` (centred on it; on the main window when null) and
// answers 1 to 7 (IDOK ... IDNO) for the button pressed, 0 for anything else. `caption` is
// accepted and not used: the caption always follows the message type.
int MsgBoxEx(QWidget* owner, const QString& text, const QString& caption, unsigned flags);

} // namespace qrv
