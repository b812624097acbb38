#include "MsgBoxExUnit.h"

namespace qrv {

TMsgBoxKind DecodeMsgBoxFlags(unsigned flags)
{
    TMsgBoxKind kind;
    if ((flags & MB_ICONINFORMATION) != 0) {
        kind.Type = TMsgDlgType::mtInformation;
        flags &= ~MB_ICONINFORMATION;
    } else if ((flags & MB_ICONWARNING) == MB_ICONWARNING) {
        kind.Type = TMsgDlgType::mtWarning;
        flags &= ~MB_ICONWARNING;
    } else if ((flags & MB_ICONQUESTION) != 0) {
        kind.Type = TMsgDlgType::mtConfirmation;
        flags &= ~MB_ICONQUESTION;
    } else if ((flags & MB_ICONERROR) != 0) {
        kind.Type = TMsgDlgType::mtError;
        flags &= ~MB_ICONERROR;
    }

    using enum TMsgDlgBtn;
    if ((flags & MB_RETRYCANCEL) == MB_RETRYCANCEL)
        kind.Buttons = {mbCancel, mbRetry};
    else if ((flags & MB_YESNO) != 0)
        kind.Buttons = {mbYes, mbNo};
    else if ((flags & MB_YESNOCANCEL) == MB_YESNOCANCEL)
        kind.Buttons = {mbYes, mbNo, mbCancel};
    else if ((flags & MB_ABORTRETRYIGNORE) != 0)
        kind.Buttons = {mbAbort, mbRetry, mbIgnore};
    else if ((flags & MB_OKCANCEL) != 0)
        kind.Buttons = {mbOK, mbCancel};
    else
        kind.Buttons = {mbOK};
    return kind;
}

int MsgBoxEx(QWidget* owner, const QString& text, const QString& /*caption*/, unsigned flags)
{
    const TMsgBoxKind kind = DecodeMsgBoxFlags(flags);
    const int result = ShowMessageForm(text, kind.Type, kind.Buttons, owner, QString(), -1, -1, 0);
    return result >= IDOK && result <= IDNO ? result : 0;
}

} // namespace qrv
