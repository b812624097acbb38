#include "Skin.h"

#include "MultiButton_QRV.h"

#include <QHash>
#include <QPainter>
#include <QSvgRenderer>

static void InitSkinResource()
{
    // The resource lives in a static library: it has to be registered by name.
    Q_INIT_RESOURCE(skin);
}

namespace qrv {

QPixmap SkinPicture(const QString& name, QSize size)
{
    static bool registered = false;
    if (!registered) {
        InitSkinResource();
        registered = true;
    }
    static QHash<QString, QPixmap> cache;
    const QString key = name + QLatin1Char('@') + QString::number(size.width()) + QLatin1Char('x') +
                        QString::number(size.height());
    if (auto found = cache.constFind(key); found != cache.constEnd())
        return *found;

    QSvgRenderer renderer(QStringLiteral(":/skin/%1.svg").arg(name));
    QPixmap picture;
    if (renderer.isValid()) {
        const QSize target = size.isValid() ? size : renderer.defaultSize();
        QImage image(target, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(target)));
        painter.end();
        picture = QPixmap::fromImage(image);
    }
    cache.insert(key, picture);
    return picture;
}

void LoadButtonFaces(TMultiButton_QRV& button, int set, const QString& face)
{
    button.SetImage(set, TMultiButton_QRV::stNormal, SkinPicture(face + QStringLiteral("_normal")));
    button.SetImage(set, TMultiButton_QRV::stOver, SkinPicture(face + QStringLiteral("_over")));
    button.SetImage(set, TMultiButton_QRV::stDown, SkinPicture(face + QStringLiteral("_down")));
    button.SetImage(set, TMultiButton_QRV::stDisabled, SkinPicture(face + QStringLiteral("_disabled")));
}

} // namespace qrv
