#pragma once

// The player's skin: the pictures of its bars, buttons and slider thumbs, drawn as SVG under
// assets/skin/ (make-skin.py writes them) and compiled into the program as the resource
// folder ":/skin". Each picture is rendered once at its own size and kept.

#include <QColor>
#include <QPixmap>
#include <QString>

namespace qrv {

class TMultiButton_QRV;

// The picture ":/skin/<name>.svg" at its own size, or at `size` when one is given (stretched
// to it). A null picture when the skin has no such picture.
QPixmap SkinPicture(const QString& name, QSize size = {});

// Gives `button` the four pictures "<face>_normal", "_over", "_down" and "_disabled" as its
// picture set `set` (1 or 2).
void LoadButtonFaces(TMultiButton_QRV& button, int set, const QString& face);

// Colours of the skin that the window draws itself.
namespace SkinColour {
inline const QColor Display{39, 39, 39};      // the display area around the picture
inline const QColor Ruler{58, 61, 68};        // slider ruler
inline const QColor RulerFill{242, 165, 65};  // the part of the ruler left of the thumb
inline const QColor RulerDisabled{42, 45, 50};
inline const QColor TimeText{154, 158, 166};  // the time label
inline const QColor TitleText{196, 200, 207}; // the title label
} // namespace SkinColour

} // namespace qrv
