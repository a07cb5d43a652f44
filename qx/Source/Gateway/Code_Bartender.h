#pragma once

#include <map>
#include <string>

#include "Automation/AxObject.h"
#include "Gateway/IBartender.h"
#include "Platform/Obj.h"
#include "Platform/RefCounted.h"

// Drives the engine "BarTender.Application" through automation. Every engine call runs on the
// Qt main thread while the calling thread waits, so the wrapper needs no lock; it must not be
// used by two callers at once for a sequence such as activate, fill, export. A format is known by
// its path's normal form: written with either separator, relative to the working directory, with
// dot steps or doubled separators (on Windows in any letter case), a file is opened once.
struct Code_Bartender : IBartender {
    QX_REFCOUNTED
public:
    // Empty when the engine cannot be reached.
    static _OBJ<IBartender> Create();

    bool Open(std::u16string path) override;
    void Close(std::u16string path) override;
    void CloseAll() override;
    bool Activate(std::u16string path) override;
    std::optional<PAGE_SETUP> GetPageSetup() override;
    void SetNamedSubStringValue(std::string name, std::string value) override;
    bool ExportImage(QImage& image, int32_t resolution) override;
    ~Code_Bartender() override;

    // An open format's keys: its file's identity (the text key for a name that does not open)
    // and the text key of a name it was opened under.
    struct KEYS {
        std::string m_File;
        std::string m_Name;
    };

private:
    Code_Bartender() = default;

    // Main thread only.
    bool Connect();
    void CleanUp();

    _QX::AxObject* m_Application = nullptr;
    _QX::AxObject* m_Formats = nullptr;
    _QX::AxObject* m_Current = nullptr;
    // The format open under these keys, or null. Main thread only.
    _QX::AxObject* Find(const KEYS& keys) const;

    struct OPEN_FORMAT {
        _QX::AxObject* m_Format;
        std::u16string m_Path;  // the name it was opened under
    };
    // By file key, which a file made since may share with a gone one; owns the objects.
    std::multimap<std::string, OPEN_FORMAT> m_OpenFormats;
    std::map<std::string, _QX::AxObject*> m_ByName;  // by text key of each name opened
};
