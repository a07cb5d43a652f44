#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include "App/DownloadManager.h"
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

TEST_F(DownloadManagerTest, CreatesMissingDownloadFolder) {
    EXPECT_TRUE(folder.startsWith(QString::fromStdString(home.m_Path.string())));
    EXPECT_TRUE(QDir(folder).exists());
}

TEST_F(DownloadManagerTest, NameThatDoesNotExistIsKept) {
    EXPECT_EQ(manager->uniqueFilePath(In("report.pdf")), In("report.pdf"));
}

TEST_F(DownloadManagerTest, ExistingNamesGetTheSmallestFreeCounter) {
    Touch(In("report.pdf"));
    Touch(In("report (2).pdf"));
    EXPECT_EQ(manager->uniqueFilePath(In("report.pdf")), In("report (1).pdf"));
    Touch(In("report (1).pdf"));
    EXPECT_EQ(manager->uniqueFilePath(In("report.pdf")), In("report (3).pdf"));
}

TEST_F(DownloadManagerTest, OnlyTheLastSuffixFollowsTheCounter) {
    Touch(In("archive.tar.gz"));
    EXPECT_EQ(manager->uniqueFilePath(In("archive.tar.gz")), In("archive.tar (1).gz"));
}

TEST_F(DownloadManagerTest, NameWithoutSuffixGetsALoneDot) {
    Touch(In("README"));
    EXPECT_EQ(manager->uniqueFilePath(In("README")), In("README (1)."));
}

TEST_F(DownloadManagerTest, PercentSignsInTheNameAreKept) {
    Touch(In("50%2off.pdf"));
    EXPECT_EQ(manager->uniqueFilePath(In("50%2off.pdf")), In("50%2off (1).pdf"));
    Touch(In("%3%1.%2"));
    EXPECT_EQ(manager->uniqueFilePath(In("%3%1.%2")), In("%3%1 (1).%2"));
}

TEST_F(DownloadManagerTest, DownloadsStartedTogetherGetTheirOwnFiles) {
    EXPECT_EQ(manager->uniqueFilePath(In("report.pdf")), In("report.pdf"));
    EXPECT_EQ(manager->uniqueFilePath(In("report.pdf")), In("report (1).pdf"));
    EXPECT_EQ(manager->uniqueFilePath(In("report.pdf")), In("report (2).pdf"));
}

}  // namespace
