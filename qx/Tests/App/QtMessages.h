#pragma once

#include <QString>
#include <QStringList>

// Collects what the code under test writes through qDebug and qWarning.
struct QtMessages {
    static void Install();
    static QStringList Take();
    static bool Contains(const QString& line);
};
