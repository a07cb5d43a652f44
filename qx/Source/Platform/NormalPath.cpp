#include "Platform/NormalPath.h"

#include <optional>
#include <system_error>
#include <vector>

#include "Platform/FileId.h"
#include "Platform/Text.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace _OS {

namespace {

template <typename C>
struct ROOT {
    std::basic_string<C> m_Name;  // "C:", "\\server\share" or empty
    bool m_Rooted = false;        // the steps start at the root, not at a working directory
    bool m_Verbatim = false;      // "\\?\": Windows opens the steps as they are written
    std::basic_string_view<C> m_Steps;
};

template <typename C>
bool IsSeparator(C c, PATH_RULE rule) {
    return c == C('/') || (rule == PATH_RULE::WINDOWS && c == C('\\'));
}

template <typename C>
bool IsDrive(std::basic_string_view<C> path) {
    return path.size() >= 2 && path[1] == C(':') &&
           ((path[0] >= C('A') && path[0] <= C('Z')) || (path[0] >= C('a') && path[0] <= C('z')));
}

template <typename C>
ROOT<C> SplitRoot(std::basic_string_view<C> path, PATH_RULE rule) {
    ROOT<C> root;
    root.m_Steps = path;
    if (rule == PATH_RULE::WINDOWS && path.size() >= 2 && IsSeparator(path[0], rule) &&
        IsSeparator(path[1], rule)) {
        // A share: the two steps after the leading separators name the root.
        const auto stepEnd = [&](size_t from) {
            while (from < path.size() && !IsSeparator(path[from], rule))
                ++from;
            return from;
        };
        const size_t serverEnd = stepEnd(2);
        const size_t shareEnd = serverEnd < path.size() ? stepEnd(serverEnd + 1) : serverEnd;
        const std::basic_string_view<C> server = path.substr(2, serverEnd - 2);
        root.m_Name = std::basic_string<C>(2, C('\\'));
        root.m_Name.append(server.begin(), server.end());
        root.m_Name += C('\\');
        if (shareEnd > serverEnd)
            root.m_Name.append(path.begin() + serverEnd + 1, path.begin() + shareEnd);
        root.m_Rooted = true;
        root.m_Verbatim = server.size() == 1 && server[0] == C('?');
        root.m_Steps = path.substr(shareEnd);
        return root;
    }
    if (rule == PATH_RULE::WINDOWS && IsDrive(path)) {
        root.m_Name.assign(path.begin(), path.begin() + 2);
        root.m_Steps = path.substr(2);
    }
    root.m_Rooted = !root.m_Steps.empty() && IsSeparator(root.m_Steps[0], rule);
    return root;
}

template <typename C>
bool IsAbsolute(const ROOT<C>& root, PATH_RULE rule) {
    return root.m_Rooted && (rule == PATH_RULE::POSIX || !root.m_Name.empty());
}

// Drive letters compare without case.
template <typename C>
bool SameDrive(const std::basic_string<C>& a, const std::basic_string<C>& b) {
    return a.size() == 2 && b.size() == 2 && a[1] == b[1] && (a[0] | 0x20) == (b[0] | 0x20);
}

template <typename C>
void AddSteps(std::basic_string_view<C> text, PATH_RULE rule,
              std::vector<std::basic_string_view<C>>& steps) {
    size_t begin = 0;
    while (begin < text.size()) {
        size_t end = begin;
        while (end < text.size() && !IsSeparator(text[end], rule))
            ++end;
        const std::basic_string_view<C> step = text.substr(begin, end - begin);
        begin = end + 1;
        if (step.empty() || (step.size() == 1 && step[0] == C('.')))
            continue;
        if (step.size() == 2 && step[0] == C('.') && step[1] == C('.')) {
            if (!steps.empty())
                steps.pop_back();
            continue;
        }
        steps.push_back(step);
    }
}

template <typename C>
std::basic_string<C> Normal(std::basic_string_view<C> path, std::basic_string_view<C> workingDir,
                            PATH_RULE rule) {
    if (path.empty())
        return {};
    const ROOT<C> root = SplitRoot(path, rule);
    std::basic_string<C> name = root.m_Name;
    bool verbatim = root.m_Verbatim;
    std::vector<std::basic_string_view<C>> steps;
    if (!IsAbsolute(root, rule)) {
        const ROOT<C> work = SplitRoot(workingDir, rule);
        // "D:x" while the working directory is on C: starts at the root of D:.
        const bool otherDrive = !name.empty() && !SameDrive(name, work.m_Name);
        if (name.empty()) {
            name = work.m_Name;
            verbatim = work.m_Verbatim;
        }
        if (!root.m_Rooted && !otherDrive)
            AddSteps(work.m_Steps, rule, steps);
    }
    AddSteps(root.m_Steps, rule, steps);

    const bool endsInSeparator = IsSeparator(path.back(), rule);
    if (rule == PATH_RULE::WINDOWS && !verbatim && !endsInSeparator && !steps.empty()) {
        std::basic_string_view<C>& last = steps.back();
        while (!last.empty() && (last.back() == C('.') || last.back() == C(' ')))
            last.remove_suffix(1);
        if (last.empty())
            steps.pop_back();
    }

    const C separator = rule == PATH_RULE::WINDOWS ? C('\\') : C('/');
    std::basic_string<C> out = name;
    for (const auto& step : steps) {
        out += separator;
        out.append(step.begin(), step.end());
    }
    if (steps.empty())
        out += separator;
    return out;
}

std::string FoldCase(std::string text) {
#ifdef _WIN32
    // The invariant upper case that Windows compares file names by, whatever the user's locale.
    const std::u16string wide = Utf8ToWide(text);
    const auto* source = reinterpret_cast<const wchar_t*>(wide.data());
    const int size = static_cast<int>(wide.size());
    const int length = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, source, size, nullptr,
                                     0, nullptr, nullptr, 0);
    std::u16string folded(static_cast<size_t>(length), u'\0');
    LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, source, size,
                  reinterpret_cast<wchar_t*>(folded.data()), length, nullptr, nullptr, 0);
    return WideToUtf8(folded);
#else
    for (char& c : text) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
#endif
}

// Only a relative path needs the working directory.
template <typename C>
bool IsRelative(std::basic_string_view<C> path) {
    return !path.empty() && !IsAbsolute(SplitRoot(path, kPathRule), kPathRule);
}

}  // namespace

std::string NormalPathText(std::string_view path, std::string_view workingDir, PATH_RULE rule) {
    return Normal(path, workingDir, rule);
}

std::wstring NormalPathText(std::wstring_view path, std::wstring_view workingDir, PATH_RULE rule) {
    return Normal(path, workingDir, rule);
}

std::filesystem::path NormalPath(const std::filesystem::path& path) {
    using View = std::basic_string_view<std::filesystem::path::value_type>;
    const View text = path.native();
    const std::filesystem::path work =
        IsRelative(text) ? std::filesystem::current_path() : std::filesystem::path();
    return NormalPathText(text, work.native(), kPathRule);
}

std::string PathKeyText(std::string_view path, std::string_view workingDir, PATH_RULE rule) {
    // Windows opens a "\\?\" name as it is written: no step is resolved or trimmed.
    const bool verbatim = rule == PATH_RULE::WINDOWS && SplitRoot(path, rule).m_Verbatim;
    std::string key = verbatim ? std::string(path) : NormalPathText(path, workingDir, rule);
    if (rule == PATH_RULE::POSIX)
        return key;
    for (char& c : key) {
        if (c == '\\')
            c = '/';
    }
    return FoldCase(std::move(key));
}

std::string PathKey(const std::u16string& path) {
    const std::string text = WideToUtf8(path);
    std::error_code ec;
#ifdef _WIN32
    const std::filesystem::path native(reinterpret_cast<const wchar_t*>(path.c_str()));
#else
    const std::filesystem::path native(text);
#endif
    if (const std::optional<FILE_ID> id = FileIdOf(native, ec))
        return id->ToKey();
    return PathKeyText(path);
}

std::string PathKeyText(const std::u16string& path) {
    const std::string text = WideToUtf8(path);
    const std::string work =
        IsRelative(std::string_view(text)) ? PathToUtf8(std::filesystem::current_path()) : "";
    return PathKeyText(text, work, kPathRule);
}

}  // namespace _OS
