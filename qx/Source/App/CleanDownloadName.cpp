#include "App/CleanDownloadName.h"

#include <QStringList>

namespace _QX {

namespace {

constexpr int kMaxNameBytes = 200;
// A longer extension is most likely not one: the name is then cut as a whole.
constexpr int kMaxKeptSuffixBytes = 32;

int Utf8Bytes(const QString& text) {
    return static_cast<int>(text.toUtf8().size());
}

// The longest start of text within maxBytes of UTF-8, never splitting a character.
QString CutToBytes(const QString& text, int maxBytes) {
    int bytes = 0;
    int end = 0;
    while (end < text.size()) {
        const int units = text.at(end).isHighSurrogate() && end + 1 < text.size() ? 2 : 1;
        const int more = Utf8Bytes(text.mid(end, units));
        if (bytes + more > maxBytes)
            break;
        bytes += more;
        end += units;
    }
    return text.left(end);
}

QString DropTrailingDotsAndSpaces(QString name) {
    while (!name.isEmpty() && (name.endsWith(QLatin1Char('.')) || name.endsWith(QLatin1Char(' '))))
        name.chop(1);
    return name;
}

bool IsDeviceName(const QString& name) {
    const QString device = name.section(QLatin1Char('.'), 0, 0).trimmed().toUpper();
    static const QStringList plain = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    if (plain.contains(device))
        return true;
    // Windows counts the superscript digits one to three as digits here.
    static const QString digits = QStringLiteral(u"0123456789\u00b9\u00b2\u00b3");
    return device.size() == 4 && (device.startsWith("COM") || device.startsWith("LPT")) &&
           digits.contains(device.at(3));
}

}  // namespace

QString CleanDownloadName(const QString& suggested) {
    QString name = suggested;
    name.replace(QLatin1Char('\\'), QLatin1Char('/'));
    name = name.section(QLatin1Char('/'), -1);
    if (name.size() >= 2 && name.at(1) == QLatin1Char(':') && name.at(0).isLetter() &&
        name.at(0).unicode() < 0x80)
        name.remove(0, 2);

    static const QString forbidden = QStringLiteral("<>:\"/\\|?*");
    for (QChar& c : name) {
        if (c.category() == QChar::Other_Control || forbidden.contains(c))
            c = QLatin1Char('_');
    }

    if (Utf8Bytes(name) > kMaxNameBytes) {
        const int dot = name.lastIndexOf(QLatin1Char('.'));
        const QString suffix = dot > 0 ? name.mid(dot) : QString();
        const int suffixBytes = Utf8Bytes(suffix);
        if (!suffix.isEmpty() && suffixBytes <= kMaxKeptSuffixBytes)
            name = CutToBytes(name.left(dot), kMaxNameBytes - suffixBytes) + suffix;
        else
            name = CutToBytes(name, kMaxNameBytes);
    }

    name = DropTrailingDotsAndSpaces(name);
    if (name.isEmpty())
        return QStringLiteral("download");
    if (IsDeviceName(name))
        name.prepend(QLatin1Char('_'));
    return name;
}

}  // namespace _QX
