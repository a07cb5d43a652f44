#include "Qx/Code_Panel_Logger.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QHBoxLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QTextCursor>
#include <QTextEdit>
#include <QVBoxLayout>

#include "Platform/Log.h"
#include "Qx/Code_Logger_Qt.h"

namespace _QX::PANEL {

namespace {

const char* const kDefaultLevelKey = "Qt/Panel/Logger/DebugLevel";
constexpr int kDefaultMaxLines = 512;

}  // namespace

Code_Panel_Logger::Code_Panel_Logger(const LOGGER_DEF& def, QWidget* parent) : QWidget(parent) {
    const std::string key = def.LevelKey.empty() ? kDefaultLevelKey : def.LevelKey;
    m_Level = std::make_unique<_OS::ENV::REG<int>>(key, 0);

    m_TextEdit = new QTextEdit(this);
    m_TextEdit->setReadOnly(true);
    // Nobody can undo in a read-only view, and the history would keep every line ever logged.
    m_TextEdit->setUndoRedoEnabled(false);
    m_Logger = _QX::WIDGET::Code_Logger_Qt::Create(
        def.Name, def.MaxLines < 1 ? kDefaultMaxLines : def.MaxLines, m_TextEdit);

    auto* blank = new QPushButton(QStringLiteral("Blank"), this);
    connect(blank, &QPushButton::clicked, blank, [this] {
        QTextCursor cursor(m_TextEdit->document());
        cursor.movePosition(QTextCursor::Start);
        cursor.insertText(QStringLiteral("\n"));
    });
    auto* clear = new QPushButton(QStringLiteral("Clear"), this);
    connect(clear, &QPushButton::clicked, clear, [this] { m_TextEdit->clear(); });

    const struct {
        const char* text;
        int id;
    } choices[] = {{"Error", _LOG::LEVEL_ERROR},
                   {"Warning", _LOG::LEVEL_WARN},
                   {"Info", _LOG::LEVEL_INFO},
                   {"Debug", _LOG::LEVEL_DEBUG},
                   {"Trace", _LOG::LEVEL_TRACE}};
    auto* group = new QButtonGroup(this);
    for (const auto& choice : choices)
        group->addButton(new QRadioButton(QString::fromUtf8(choice.text), this), choice.id);
    connect(group, &QButtonGroup::buttonClicked, group, [this, group](QAbstractButton* button) {
        const int id = group->id(button);
        m_Level->Set(id);
        _LOG::Level(static_cast<_LOG::LEVEL>(id));
    });

    m_Level->Load();
    if (QAbstractButton* stored = group->button(m_Level->Get()))
        stored->setChecked(true);
    _LOG::Level(static_cast<_LOG::LEVEL>(m_Level->Get()));

    auto* column = new QVBoxLayout(this);
    column->setSpacing(0);
    column->setAlignment(Qt::AlignTop);
    column->setContentsMargins(0, 0, 0, 0);
    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 4, 0, 4);
    row->addWidget(blank);
    row->addStretch(2);
    const auto buttons = group->buttons();
    for (int i = 0; i < buttons.size(); ++i) {
        if (i > 0)
            row->addStretch(1);
        row->addWidget(buttons[i]);
    }
    row->addStretch(2);
    row->addWidget(clear);
    column->addLayout(row);
    column->addWidget(m_TextEdit);

    show();
}

// The logger goes first so that no line is queued to the text widget once it is destroyed.
Code_Panel_Logger::~Code_Panel_Logger() {
    m_Logger.reset();
    m_Level.reset();
}

Code_Panel_Logger* CreatePanelLogger(const LOGGER_DEF& def, QWidget* parent) {
    return new Code_Panel_Logger(def, parent);
}

}  // namespace _QX::PANEL
