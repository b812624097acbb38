#include "SystemFont.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QWidget>

namespace qrv {

namespace {

// The controls that show text of their own; buttons cover push, tool, check and radio
// buttons.
bool IsTextControl(const QWidget* widget)
{
    return qobject_cast<const QGroupBox*>(widget) != nullptr || qobject_cast<const QAbstractButton*>(widget) != nullptr ||
           qobject_cast<const QLabel*>(widget) != nullptr || qobject_cast<const QLineEdit*>(widget) != nullptr ||
           qobject_cast<const QComboBox*>(widget) != nullptr || qobject_cast<const QTextEdit*>(widget) != nullptr ||
           qobject_cast<const QPlainTextEdit*>(widget) != nullptr;
}

// Changes only the family: the widget's current size, weight and style stay.
void SetFamily(QWidget* widget, const QString& family)
{
    QFont font = widget->font();
    font.setFamilies({family});
    widget->setFont(font);
}

} // namespace

QString SystemCaptionFontFamily()
{
    const QString family = QFontDatabase::systemFont(QFontDatabase::TitleFont).family();
    return family.isEmpty() ? QApplication::font().family() : family;
}

void ApplySystemFont(QWidget* form)
{
    if (form == nullptr)
        return;
    const QString family = SystemCaptionFontFamily();
    if (family.isEmpty())
        return;
    SetFamily(form, family);
    for (QWidget* child : form->findChildren<QWidget*>())
        if (IsTextControl(child))
            SetFamily(child, family);
}

} // namespace qrv
