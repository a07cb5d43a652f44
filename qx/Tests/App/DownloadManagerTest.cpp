#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QStringList>

#include "App/CleanDownloadName.h"
#include "App/DownloadManager.h"
#include "App/DownloadNames.h"
#include "Support/TempDir.h"

namespace {

void Touch(const QString& path) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
}

struct DownloadManagerTest : testing::Test {
    void SetUp() override {
        qputenv("HOME", QByteArray::fromStdString(home.m_Path.string()));
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString((home.m_Path / "config").string()));
        manager = std::make_unique<_QX::DownloadManager>(nullptr);
        folder = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    }
    QString In(const QString& name) const { return QDir(folder).filePath(name); }

    SUPPORT::TEMP_DIR home;
    std::unique_ptr<_QX::DownloadManager> manager;
    QString folder;
};

TEST_F(DownloadManagerTest, ExistingNamesGetTheSmallestFreeCounter) {
    Touch(In("report.pdf"));
    Touch(In("report (2).pdf"));
    EXPECT_EQ(manager->uniqueFilePath(In("report.pdf")), In("report (1).pdf"));
    Touch(In("report (1).pdf"));
    EXPECT_EQ(manager->uniqueFilePath(In("report.pdf")), In("report (3).pdf"));
}

TEST_F(DownloadManagerTest, CounterGoesBeforeTheLastSuffixOnly) {
    const std::pair<QString, QString> cases[] = {
        {"archive.tar.gz", "archive.tar (1).gz"},
        {"README", "README (1)"},
        {"50%2off.pdf", "50%2off (1).pdf"},
        {"%3%1.%2", "%3%1 (1).%2"},
    };
    for (const auto& [name, unique] : cases) {
        Touch(In(name));
        EXPECT_EQ(manager->uniqueFilePath(In(name)), In(unique)) << name.toStdString();
    }
}

TEST_F(DownloadManagerTest, SpellingsOfOneFileGetTheirOwnFiles) {
    const QStringList paths = {manager->uniqueFilePath(In("same.txt")),
                               manager->uniqueFilePath(In("./same.txt")),
                               manager->uniqueFilePath(In("sub/../same.txt"))};
    EXPECT_EQ(paths, QStringList({In("same.txt"), In("same (1).txt"), In("same (2).txt")}));
}

TEST_F(DownloadManagerTest, NameMeetingAnotherDownloadsPartialFileIsTaken) {
    // "a.download" is written to "a.download.download"; "a" would be written to "a.download".
    EXPECT_EQ(manager->uniqueFilePath(In("a.download")), In("a.download"));
    EXPECT_EQ(manager->uniqueFilePath(In("a")), In("a (1)"));
    EXPECT_EQ(manager->uniqueFilePath(In("b")), In("b"));
    EXPECT_EQ(manager->uniqueFilePath(In("b.download")), In("b (1).download"));
}

// Two instances on one folder (two managers here) choose one name before either engine has
// written to it.
TEST_F(DownloadManagerTest, InstancesChoosingOneNameAtOnceGetFilesOfTheirOwn) {
    _QX::DownloadManager other(nullptr);
    EXPECT_EQ(manager->uniqueFilePath(In("same.txt")), In("same.txt"));
    EXPECT_EQ(other.uniqueFilePath(In("same.txt")), In("same (1).txt"));
    EXPECT_TRUE(QFile::exists(In("same (1).txt"))) << "held on disk before the engine writes";
}

// Where the system opens no long paths, "<name> (n).<suffix>.download" must fit the limit whole:
// the base is cut, by whole characters, the counter and the suffix stay.
TEST_F(DownloadManagerTest, NamesAreCutSoThatThePartialFileFitsThePathLimit) {
    const QString deep = In(QString(60, QLatin1Char('d')));
    ASSERT_TRUE(QDir().mkpath(deep));
    QString name;
    for (int i = 0; i < 49; ++i)
        name += QString::fromUtf8("\xF0\x9F\x93\x84");
    name = _QX::CleanDownloadName(name + ".pdf");
    for (const int spare : {61, 62}) {
        const int limit = static_cast<int>(deep.size()) + 1 + spare;
        _QX::DownloadManager limited(nullptr, limit);
        for (const QString& end : {QString(".pdf"), QString(" (1).pdf")}) {
            const QString path = limited.uniqueFilePath(deep + "/" + name);
            EXPECT_LE(_QX::DownloadNames::PartialFile(path).size(), limit) << path.toStdString();
            EXPECT_TRUE(path.endsWith(end)) << path.toStdString();
            EXPECT_TRUE(QStringView(path).isValidUtf16()) << "a character was split";
            EXPECT_TRUE(path.startsWith(deep + "/" + name.left(8))) << path.toStdString();
        }
        ASSERT_TRUE(QDir(deep).removeRecursively() && QDir().mkpath(deep));
    }
    _QX::DownloadManager unlimited(nullptr, 0);
    EXPECT_EQ(unlimited.uniqueFilePath(deep + "/" + name), deep + "/" + name);
}

TEST_F(DownloadManagerTest, WindowsRuleTakesNamesAsWindowsResolvesThem) {
    struct ROW {
        QString held;
        bool onDisk;  // a file, else a name given out
        QString candidate;
        bool takenOnWindows;
        bool takenOnPosix;
    };
    const ROW rows[] = {
        {"README (1).", false, "README (1)", true, false},
        {"README (1)", false, "readme (1). ", true, false},
        {"a", false, "A.Download", true, false},
        {"a.download", false, "A", true, false},
        {"b.", false, "b.download", false, false},
        {"b.", false, "b..download", true, true},
        {"disk (1)", true, "disk (1).", true, false},
    };
    for (const ROW& row : rows) {
        if (row.onDisk)
            Touch(In(row.held));
        for (const auto rule : {_OS::PATH_RULE::WINDOWS, _OS::PATH_RULE::POSIX}) {
            _QX::DownloadNames names(rule);
            if (!row.onDisk)
                names.Reserve(In(row.held));
            const bool expected =
                rule == _OS::PATH_RULE::WINDOWS ? row.takenOnWindows : row.takenOnPosix;
            EXPECT_EQ(names.IsTaken(In(row.candidate)), expected)
                << row.held.toStdString() << " / " << row.candidate.toStdString() << " rule "
                << (rule == _OS::PATH_RULE::WINDOWS ? "Windows" : "POSIX");
        }
    }
}

TEST(CleanDownloadNameTest, ServerNamesBecomeOneNameInsideTheFolder) {
    const std::pair<QString, QString> cases[] = {
        {"../../escape.txt", "escape.txt"},
        {"/etc/passwd", "passwd"},
        {"../.config/autostart/evil.desktop", "evil.desktop"},
        {"..\\..\\win.txt", "win.txt"},
        {"C:\\x.txt", "x.txt"},
        {"C:x.txt", "x.txt"},
        {"a<b>c:d\"e|f?g*h\x01\x7f.txt", "a_b_c_d_e_f_g_h__.txt"},
        {QString::fromUtf8("r\u00e9sum\u00e9\u0085.pdf"),
         QString::fromUtf8("r\u00e9sum\u00e9_.pdf")},
        {"CON.txt", "_CON.txt"},
        {"lpt9", "_lpt9"},
        {"Com1.tar.gz", "_Com1.tar.gz"},
        {"nul .txt", "_nul .txt"},
        {"COM10.txt", "COM10.txt"},
        {"CONSOLE.txt", "CONSOLE.txt"},
        {"COM0.txt", "_COM0.txt"},
        {"LPT0", "_LPT0"},
        {QString::fromUtf8("COM\u00b9.txt"), QString::fromUtf8("_COM\u00b9.txt")},
        {QString::fromUtf8("lpt\u00b2"), QString::fromUtf8("_lpt\u00b2")},
        {QString::fromUtf8("LPT\u00b3.pdf"), QString::fromUtf8("_LPT\u00b3.pdf")},
        {QString::fromUtf8("com\u2074.txt"), QString::fromUtf8("com\u2074.txt")},
        {"CONIN$", "_CONIN$"},
        {"conout$.log", "_conout$.log"},
        {"CONIN$1", "CONIN$1"},
        {"report.pdf. . ", "report.pdf"},
        {"aux.", "_aux"},
        {"", "download"},
        {".", "download"},
        {"..", "download"},
        {"dir/", "download"},
        {".hidden", ".hidden"},
    };
    for (const auto& [suggested, cleaned] : cases)
        EXPECT_EQ(_QX::CleanDownloadName(suggested), cleaned) << suggested.toStdString();
}

TEST(CleanDownloadNameTest, LongNamesAreCutOnCharactersKeepingTheExtension) {
    // 300 bytes: a counter suffix and the engine's ".download" must still fit in 255.
    const QString longName = QString(296, QLatin1Char('x')) + ".pdf";
    const QString cleaned = _QX::CleanDownloadName(longName);
    EXPECT_EQ(cleaned, QString(196, QLatin1Char('x')) + ".pdf");
    // Two-byte characters are never split.
    const QString wide = _QX::CleanDownloadName(QString(150, QChar(0x00e9)) + ".txt");
    EXPECT_EQ(wide, QString(98, QChar(0x00e9)) + ".txt");
    // Four-byte characters (surrogate pairs) are never split either.
    QString emoji;
    for (int i = 0; i < 80; ++i)
        emoji += QString::fromUtf8("\xF0\x9F\x93\x84");
    const QString cut = _QX::CleanDownloadName(emoji);
    EXPECT_EQ(cut.toUtf8().size(), 200);
    EXPECT_FALSE(cut.back().isHighSurrogate());
    // An overlong "extension" is cut as part of the name.
    const QString noExtension = _QX::CleanDownloadName("a." + QString(299, QLatin1Char('y')));
    EXPECT_EQ(noExtension.toUtf8().size(), 200);
    EXPECT_TRUE(noExtension.startsWith("a.y"));
}

}  // namespace
