#include "Gateway/Code_Bartender.h"

#include <QClipboard>
#include <QGuiApplication>
#include <algorithm>
#include <exception>
#include <filesystem>

#include "Automation/Ole.h"
#include "Platform/Log.h"
#include "Platform/NormalPath.h"
#include "Qx/QxApp.h"

namespace {

const int UNIT_MILLIMETRES = 3;

// Only Windows separates steps with a backslash; elsewhere it is a character of a name.
std::u16string SlashForm(std::u16string path) {
    if (std::filesystem::path::preferred_separator == '\\')
        std::replace(path.begin(), path.end(), u'\\', u'/');
    return path;
}

// The keys of a path: the file's identity when it opens, so that a file is opened once however
// it is spelled, and the text of the name, which still finds an open format whose file has been
// replaced since (saved anew, it is another file). A path that is not valid UTF-16, or a
// relative one without a working directory, has none.
std::optional<Code_Bartender::KEYS> KeysOf(const std::u16string& path) {
    try {
        return Code_Bartender::KEYS{_OS::PathKey(path), _OS::PathKeyText(path)};
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// The text up to its first NUL byte, as the engine's C strings see it.
QVariant EngineText(const std::string& text) {
    return QString::fromUtf8(text.c_str());
}

}  // namespace

_OBJ<IBartender> Code_Bartender::Create() {
    auto* bartender = new Code_Bartender();
    bool connected = true;
    const bool ran = _QX::APP::InvokeBlocking([bartender, &connected] {
        if (!bartender->Connect())
            connected = false;
    });
    if (!ran || !connected) {
        delete bartender;
        return {};
    }
    return _OBJ<IBartender>(bartender);
}

bool Code_Bartender::Connect() {
    _OS::OleInitialize(nullptr);
    m_Application = new _QX::AxObject();
    m_Application->setControl(QStringLiteral("BarTender.Application"));
    if (m_Application->isNull() || m_Application->control().isEmpty()) {
        _LOG::Critical("Failed to connect to Bartender Engine");
        return false;
    }
    m_Formats = m_Application->querySubObject("Formats");
    return m_Formats && !m_Formats->isNull();
}

bool Code_Bartender::Open(std::u16string path) {
    const std::optional<KEYS> keys = KeysOf(path);
    if (!keys)
        return false;
    const QString enginePath = QString::fromStdU16String(SlashForm(path));
    bool opened = true;
    const bool ran = _QX::APP::InvokeBlocking([this, &keys, &path, enginePath, &opened] {
        if (_QX::AxObject* open = Find(*keys)) {
            m_Current = open;
            m_ByName[keys->m_Name] = m_Current;
            return;
        }
        m_Current =
            m_Formats->querySubObject("Open(QString,bool,char *)", enginePath, false, QString(""));
        if (!m_Current || m_Current->isNull()) {
            delete m_Current;
            m_Current = nullptr;
            opened = false;
            return;
        }
        m_OpenFormats.emplace(keys->m_File, OPEN_FORMAT{m_Current, path});
        m_ByName[keys->m_Name] = m_Current;
    });
    return ran && opened;
}

_QX::AxObject* Code_Bartender::Find(const KEYS& keys) const {
    const auto named = m_ByName.find(keys.m_Name);
    if (named != m_ByName.end())
        return named->second;
    // The system gives a gone file's identity to the next file it makes: an identity counts only
    // while the name the format was opened under still names that file.
    const auto [first, last] = m_OpenFormats.equal_range(keys.m_File);
    for (auto it = first; it != last; ++it) {
        const std::optional<KEYS> opened = KeysOf(it->second.m_Path);
        if (opened && opened->m_File == keys.m_File)
            return it->second.m_Format;
    }
    return nullptr;
}

void Code_Bartender::Close(std::u16string path) {
    const std::optional<KEYS> keys = KeysOf(path);
    if (!keys)
        return;
    _QX::APP::InvokeBlocking([this, &keys] {
        _QX::AxObject* format = Find(*keys);
        if (!format)
            return;
        for (auto it = m_OpenFormats.begin(); it != m_OpenFormats.end();)
            it = it->second.m_Format == format ? m_OpenFormats.erase(it) : std::next(it);
        for (auto it = m_ByName.begin(); it != m_ByName.end();)
            it = it->second == format ? m_ByName.erase(it) : std::next(it);
        format->dynamicCall("Close(int)", 1);
        if (m_Current == format)
            m_Current = nullptr;
        delete format;
    });
}

void Code_Bartender::CloseAll() {
    _QX::APP::InvokeBlocking([this] {
        for (auto& [key, open] : m_OpenFormats) {
            open.m_Format->dynamicCall("Close(int)", 1);
            delete open.m_Format;
        }
        m_Current = nullptr;
        m_OpenFormats.clear();
        m_ByName.clear();
    });
}

bool Code_Bartender::Activate(std::u16string path) {
    const std::optional<KEYS> keys = KeysOf(path);
    bool activated = true;
    const bool ran = _QX::APP::InvokeBlocking([this, &keys, &activated] {
        m_Current = keys ? Find(*keys) : nullptr;
        if (!m_Current) {
            activated = false;
            return;
        }
        m_Current->dynamicCall("Activate");
    });
    return ran && activated;
}

std::optional<IBartender::PAGE_SETUP> Code_Bartender::GetPageSetup() {
    bool read = true;
    PAGE_SETUP record;
    const bool ran = _QX::APP::InvokeBlocking([this, &read, &record] {
        _QX::AxObject* page = m_Current ? m_Current->querySubObject("PageSetup") : nullptr;
        if (!page) {
            read = false;
            return;
        }
        const QVariant width = page->dynamicCall("PaperWidth(QVariant) ", UNIT_MILLIMETRES);
        const QVariant height = page->dynamicCall("PaperHeight(QVariant) ", UNIT_MILLIMETRES);
        const QVariant orientation = page->dynamicCall("Orientation");
        delete page;
        record.WidthInMm = width.toDouble();
        record.HeightInMm = height.toDouble();
        record.Orientation = orientation.toInt() & 1;
    });
    if (!ran || !read)
        return std::nullopt;
    return record;
}

void Code_Bartender::SetNamedSubStringValue(std::string name, std::string value) {
    const QVariant engineName = EngineText(name);
    const QVariant engineValue = EngineText(value);
    _QX::APP::InvokeBlocking([this, engineName, engineValue] {
        if (m_Current)
            m_Current->dynamicCall("SetNamedSubStringValue(char *,char *)", engineName,
                                   engineValue);
    });
}

bool Code_Bartender::ExportImage(QImage& image, int32_t resolution) {
    bool exported = true;
    const bool ran = _QX::APP::InvokeBlocking([this, resolution, &image, &exported] {
        if (!m_Current) {
            exported = false;
            return;
        }
        // A failed export must not hand back whatever image was on the clipboard before.
        QClipboard* clipboard = QGuiApplication::clipboard();
        clipboard->clear();
        m_Current->dynamicCall("ExportToClipboard(int,int)", 0, resolution);
        image = clipboard->image(QClipboard::Clipboard);
        if (image.isNull())
            exported = false;
    });
    return ran && exported;
}

// Without a main thread to serve it (no application object, or its loop has ended) the
// clean-up runs on the destroying thread.
Code_Bartender::~Code_Bartender() {
    if (!_QX::APP::InvokeBlocking([this] { CleanUp(); }))
        CleanUp();
}

void Code_Bartender::CleanUp() {
    for (auto& [key, open] : m_OpenFormats) {
        open.m_Format->dynamicCall("Close(int)", 1);
        delete open.m_Format;
    }
    m_OpenFormats.clear();
    m_ByName.clear();
    m_Current = nullptr;
    delete m_Formats;
    m_Formats = nullptr;
    if (m_Application) {
        m_Application->dynamicCall("Quit(int)", 1);
        delete m_Application;
        m_Application = nullptr;
    }
}
