#include <gtest/gtest.h>

#include <QFile>
#include <QPointer>
#include <QTemporaryDir>
#include <vector>

#include "Automation/CAxObject.h"
#include "Automation/CAxRegistry.h"
#include "Platform/RefCounted.h"

namespace {

using _QX::CAxObject;
using _QX::CAxRegistry;
using _QX::IAutomationObject;

struct CALL {
    QByteArray Member;
    QVariantList Args;
};

// Records every call; "Child" yields a sub-object, every other member yields none.
struct Code_Recorder : IAutomationObject {
    QX_REFCOUNTED
public:
    explicit Code_Recorder(std::vector<CALL>* calls) : m_Calls(calls) {}
    QVariant Invoke(const QByteArray& member, const QVariantList& args) override {
        m_Calls->push_back({member, args});
        return QStringLiteral("answer");
    }
    _OBJ<IAutomationObject> SubObject(const QByteArray& member, const QVariantList& args) override {
        m_Calls->push_back({member, args});
        if (member != "Child")
            return {};
        return _OBJ<IAutomationObject>(new Code_Recorder(m_Calls));
    }

private:
    std::vector<CALL>* m_Calls;
};

struct AxObjectTest : testing::Test {
    void SetUp() override {
        ASSERT_TRUE(m_EmptyFolder.isValid());
        qputenv("QX_AUTOMATION_PATH", m_EmptyFolder.path().toUtf8());
        CAxRegistry::Register(QStringLiteral("Test.Recorder"), [this] {
            return _OBJ<IAutomationObject>(new Code_Recorder(&m_Calls));
        });
    }
    void TearDown() override {
        CAxRegistry::Unregister(QStringLiteral("Test.Recorder"));
        qunsetenv("QX_AUTOMATION_PATH");
    }

    QTemporaryDir m_EmptyFolder;
    std::vector<CALL> m_Calls;
};

// A file in the server folder that is no server is skipped.
TEST_F(AxObjectTest, UnknownProgIdLeavesObjectNull) {
    QFile junk(m_EmptyFolder.filePath("libjunk.so"));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("not a library");
    junk.close();
    CAxObject object;
    EXPECT_FALSE(object.setControl(QStringLiteral("No.Such.Server")));
    EXPECT_TRUE(object.isNull());
    EXPECT_TRUE(object.control().isEmpty());
    EXPECT_FALSE(object.dynamicCall("Anything").isValid());
    EXPECT_EQ(object.querySubObject("Child"), nullptr);
    EXPECT_FALSE(object.setControl(QString()));
}

TEST_F(AxObjectTest, ProgIdIgnoresLetterCaseAndUnregisterRemovesServer) {
    CAxObject object;
    EXPECT_TRUE(object.setControl(QStringLiteral("test.RECORDER")));
    EXPECT_FALSE(object.isNull());
    EXPECT_EQ(object.control(), QStringLiteral("test.RECORDER"));

    CAxRegistry::Unregister(QStringLiteral("TEST.recorder"));
    EXPECT_FALSE(object.setControl(QStringLiteral("Test.Recorder")));
    EXPECT_TRUE(object.isNull());
    EXPECT_TRUE(object.control().isEmpty());
}

TEST_F(AxObjectTest, MembersPassByteForByteWithArgumentsUpToTheLastGivenOne) {
    CAxObject object;
    ASSERT_TRUE(object.setControl(QStringLiteral("Test.Recorder")));
    EXPECT_EQ(object.dynamicCall("PaperWidth(QVariant) ", 3).toString(), "answer");
    object.dynamicCall("Open(QString,bool,char *)", QStringLiteral("a/b.btw"), false, QString());
    object.dynamicCall("Gap", QVariant(), 7);
    object.dynamicCall("Eight", 1, 2, 3, 4, 5, 6, 7, 8);

    ASSERT_EQ(m_Calls.size(), 4u);
    EXPECT_EQ(m_Calls[0].Member, QByteArray("PaperWidth(QVariant) "));
    EXPECT_EQ(m_Calls[0].Args, QVariantList{3});
    EXPECT_EQ(m_Calls[0].Args[0].typeId(), QMetaType::Int);
    ASSERT_EQ(m_Calls[1].Args.size(), 3);
    EXPECT_EQ(m_Calls[1].Args[0].typeId(), QMetaType::QString);
    EXPECT_EQ(m_Calls[1].Args[1].typeId(), QMetaType::Bool);
    EXPECT_EQ(m_Calls[1].Args[2].typeId(), QMetaType::QString);
    ASSERT_EQ(m_Calls[2].Args.size(), 2);
    EXPECT_FALSE(m_Calls[2].Args[0].isValid());
    EXPECT_EQ(m_Calls[2].Args[1], QVariant(7));
    EXPECT_EQ(m_Calls[3].Args, (QVariantList{1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST_F(AxObjectTest, SubObjectsAreChildrenOfTheirSource) {
    auto* object = new CAxObject;
    ASSERT_TRUE(object->setControl(QStringLiteral("Test.Recorder")));
    EXPECT_EQ(object->querySubObject("Nothing"), nullptr);
    QPointer<CAxObject> child = object->querySubObject("Child", 1);
    ASSERT_TRUE(child);
    EXPECT_FALSE(child->isNull());
    EXPECT_EQ(child->parent(), object);
    EXPECT_EQ(child->dynamicCall("Call").toString(), "answer");
    EXPECT_EQ(m_Calls.back().Member, QByteArray("Call"));
    delete object;
    EXPECT_TRUE(child.isNull());
}

}  // namespace
