#pragma once

// Gives a form the font family of the system's window titles, so that captions, labels and
// buttons use the desktop's own face (which, unlike many default faces, has the glyphs of
// the Korean, Japanese and Chinese texts when the desktop is set up for them).

class QWidget;
class QString;

namespace qrv {

// The family of the platform theme's title-bar font; the application font's family when the
// theme names none. Read anew on every call, so a changed desktop setting is followed.
QString SystemCaptionFontFamily();

// Sets that family on `form` and on every text control inside it (group boxes, check
// boxes, labels, buttons, line edits, combo boxes, text edits). Other widgets (sliders,
// pictures, custom controls) are left alone. Point sizes and styles are kept. Does
// nothing for a null form.
void ApplySystemFont(QWidget* form);

} // namespace qrv
