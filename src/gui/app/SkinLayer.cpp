#include "gui/app/SkinLayer.h"

#include <QApplication>
#include <QFile>
#include <QPalette>

#include <algorithm>

int SkinLayer::attachEx(const QString &path)
{
    QFile file(path);
    if (!file.exists())
        return FileMissing;
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return FileUnreadable;
    const QByteArray sheet = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return FileUnreadable;
    m_app.setStyleSheet(QString::fromUtf8(sheet));
    return Ok;
}

int SkinLayer::adjustHsv(int hue, int saturation, int brightness)
{
    QPalette palette = m_app.palette();
    for (int group = 0; group < QPalette::NColorGroups; ++group) {
        for (int role = 0; role < QPalette::NColorRoles; ++role) {
            const auto colorGroup = QPalette::ColorGroup(group);
            const auto colorRole = QPalette::ColorRole(role);
            const QColor color = palette.color(colorGroup, colorRole);
            int h = 0, s = 0, v = 0, a = 0;
            color.getHsv(&h, &s, &v, &a);
            if (h >= 0)
                h = ((h + hue) % 360 + 360) % 360;
            s = std::clamp(s + saturation, 0, 255);
            v = std::clamp(v + brightness, 0, 255);
            palette.setColor(colorGroup, colorRole, QColor::fromHsv(h, s, v, a));
        }
    }
    m_app.setPalette(palette);
    return 0;
}
