#pragma once
// A path value of the common library with its own deletion, temporary-name and
// deferred-deletion operations. Logs through the logging library under
// "AGSCommon". Every deletion goes through the removal layer.

#include "MyString.h"

class FileName {
public:
    FileName() = default;
    explicit FileName(const wchar_t* path) { Set(path); }

    // A private copy (null: none). A path holding "/" switches the value to
    // "/" as separator; otherwise the style is left as it was.
    void Set(const wchar_t* path);
    FileName& operator=(const wchar_t* path)
    {
        Set(path);
        return *this;
    }

    // Null for none.
    const wchar_t* c_str() const { return path_.c_str(); }
    bool IsNone() const { return path_.IsNone(); }
    wchar_t Separator() const { return slashStyle_ ? L'/' : L'\\'; }

    // path + separator + name, with exactly one separator between them.
    // Nothing happens when either is none.
    void Append(const wchar_t* name);
    // The part after the last separator of the value's style (all of it when
    // there is none); empty for none.
    const wchar_t* NamePart() const;

    // A new name not yet in use in folder (none: the user's temporary folder),
    // made by GetTempFileNameW with "TVO" in three attempts 100 ms apart; the
    // empty file the call makes is deleted again. False, with the value none,
    // when no attempt worked.
    bool MakeTempName(const wchar_t* folder);
    // True if the file was deleted or did not exist; otherwise logs at Warning
    // "Failed to delete file %s" with the error and returns false.
    bool Delete();
    // An existing folder, or a bare drive name ("C:", "C:\").
    bool IsDirectory() const;
    // Replaces the path by its short (8.3) form, a trailing wildcard pattern
    // kept as it is. False, with the path unchanged, on failure.
    bool ToShortPath();
    // Leaves the file for deletion at the next restart: on NT under a
    // throw-away name in its folder (its own name is then free at once), on
    // Windows without the NT kernel in WinInit.Ini's "rename" section (a
    // folder: "DIRNUL"). Sets the reboot-needed flag when something was
    // recorded.
    void MarkDeleteAfterReboot();

private:
    void MarkInWinInit();

    CMyString path_;
    int slashStyle_ = 0;  // 1: "/" separates, 0: "\\"
};

// Splits path at its last "\\": folder before, name after. False, with
// folder none and name the whole path, when there is no "\\".
bool SplitFolderAndName(const wchar_t* path, CMyString& folder, CMyString& name);
