#include "SweeperConfig.h"

#include "Com.h"
#include "Handle.h"
#include "SweeperTables.h"

#include <msxml2.h>
#include <oleauto.h>

#include <cwchar>

namespace sweeper {

namespace {

// The Msxml2 DOMDocument class and the two interfaces, by their published GUIDs.
constexpr CLSID kClsidDomDocument = {0xF6D90F11, 0x9C73, 0x11D3, {0xB3, 0x2E, 0x00, 0xC0, 0x4F, 0x99, 0x0B, 0xB4}};
constexpr IID kIidDomDocument = {0x2933BF81, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
constexpr IID kIidDomElement = {0x2933BF86, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

// An attribute counts only when the call answers S_OK with a string.
bool ReadAttribute(IXMLDOMElement* element, const wchar_t* name, std::wstring& out)
{
    win::Bstr attribute(name);
    win::Variant value;
    if (element->getAttribute(attribute.get(), value.put()) != S_OK || value.get().vt != VT_BSTR) return false;
    out.assign(value.get().bstrVal, SysStringLen(value.get().bstrVal));
    return true;
}

bool ElementOf(IXMLDOMNode* node, win::ComPtr<IXMLDOMElement>& out)
{
    return node && SUCCEEDED(node->QueryInterface(kIidDomElement, out.putVoid())) && out.get();
}

// The text of the first descendant element of that name; empty when there is none.
std::wstring FirstElementText(IXMLDOMElement* parent, const wchar_t* tag)
{
    win::Bstr name(tag);
    win::ComPtr<IXMLDOMNodeList> list;
    if (FAILED(parent->getElementsByTagName(name.get(), list.put())) || !list.get()) return {};
    win::ComPtr<IXMLDOMNode> item;
    if (list->get_item(0, item.put()) != S_OK || !item.get()) return {};
    win::Variant value;
    if (FAILED(item->get_nodeTypedValue(value.put())) || value.get().vt != VT_BSTR) return {};
    return std::wstring(value.get().bstrVal, SysStringLen(value.get().bstrVal));
}

// A decimal count of seconds read like _wtol, kept as milliseconds.
DWORD SecondsToMs(const std::wstring& text) { return static_cast<DWORD>(_wtol(text.c_str())) * 1000u; }

}  // namespace

SweeperConfiguration& TheConfiguration()
{
    static SweeperConfiguration store;
    return store;
}

std::vector<std::wstring> SplitList(const std::wstring& text, const std::wstring& separator)
{
    std::vector<std::wstring> items;
    if (separator.empty()) {
        if (!text.empty()) items.push_back(text);
        return items;
    }
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(separator, start);
        if (end == std::wstring::npos) end = text.size();
        if (end > start) items.push_back(text.substr(start, end - start));
        start = end + separator.size();
    }
    return items;
}

bool CSweeperConfigInfoParser::ParseText(const std::wstring& text, const wchar_t* fileName, SweeperConfiguration& store)
{
    win::ComPtr<IXMLDOMDocument> document;
    win::ComPtr<IXMLDOMElement> root;
    win::Bstr rootName;
    win::Bstr source(text.c_str());
    VARIANT_BOOL loaded = VARIANT_FALSE;
    if (FAILED(CoCreateInstance(kClsidDomDocument, nullptr, CLSCTX_ALL, kIidDomDocument, document.putVoid())) ||
        FAILED(document->loadXML(source.get(), &loaded)) || loaded != VARIANT_TRUE ||
        document->get_documentElement(root.put()) != S_OK || !root.get() ||
        FAILED(root->get_nodeName(rootName.put())) || rootName.text() != L"Sweeper") {
        log_.PrintfLong(L"[ERROR]: Cannot Open %ls", fileName);
        return false;
    }

    std::wstring timeout, slice;
    for (auto [name, out] : {std::pair{L"UninstallTimeout", &timeout}, std::pair{L"SleepTimeSlice", &slice}}) {
        if (!ReadAttribute(root.get(), name, *out)) {
            log_.PrintfLong(L"[ERROR]: Cannot retrieve %ls attribute", name);
            return false;
        }
    }
    store.uninstallTimeoutMs = SecondsToMs(timeout);
    store.sleepTimeSliceMs = SecondsToMs(slice);

    for (bool dependencies : {false, true}) {
        win::Bstr groupTag(dependencies ? L"Dependencies" : L"Modules");
        win::Bstr entryTag(L"UninstallerConfigurationInfo");
        win::ComPtr<IXMLDOMNodeList> groups;
        long groupCount = 0;
        if (FAILED(root->getElementsByTagName(groupTag.get(), groups.put())) || !groups.get() ||
            FAILED(groups->get_length(&groupCount)))
            continue;
        for (long g = 0; g < groupCount; ++g) {
            win::ComPtr<IXMLDOMNode> groupNode;
            win::ComPtr<IXMLDOMElement> group;
            win::ComPtr<IXMLDOMNodeList> entries;
            long entryCount = 0;
            if (groups->get_item(g, groupNode.put()) != S_OK || !ElementOf(groupNode.get(), group) ||
                FAILED(group->getElementsByTagName(entryTag.get(), entries.put())) || !entries.get() ||
                FAILED(entries->get_length(&entryCount)))
                continue;
            for (long e = 0; e < entryCount; ++e) {
                win::ComPtr<IXMLDOMNode> entryNode;
                win::ComPtr<IXMLDOMElement> element;
                if (entries->get_item(e, entryNode.put()) != S_OK || !ElementOf(entryNode.get(), element)) continue;
                UninstallerConfigurationInfo entry;
                for (auto [name, out] : {std::pair{L"Name", &entry.Name}, std::pair{L"ProductCode", &entry.ProductCode},
                                         std::pair{L"Prefix", &entry.Prefix}}) {
                    if (!ReadAttribute(element.get(), name, *out)) {
                        log_.PrintfLong(L"[ERROR]: Cannot retrieve %ls attribute", name);
                        return false;
                    }
                }
                auto list = [&](const wchar_t* tag) {
                    return SplitList(FirstElementText(element.get(), tag), separator_);
                };
                entry.InstallerInitiatedProcesses = list(L"InstallerInitiatedProcessList");
                entry.MmsServices = list(L"MMSServicesList");
                entry.WindowsServices = list(L"WindowsServicesList");
                entry.Processes = list(L"ProcessList");
                if (dependencies) entry.RefCountBuildValues = list(L"RefCountBuildValues");
                (dependencies ? store.dependencies : store.modules).push_back(std::move(entry));
            }
        }
    }
    return true;
}

bool CSweeperConfigInfoParser::ReadConfiguration()
{
    win::ComInit com(COINIT_APARTMENTTHREADED);

    wchar_t module[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, module, MAX_PATH);
    wchar_t drive[_MAX_DRIVE] = {}, folder[_MAX_DIR] = {};
    // The plain form: the checked one is missing from Windows XP's msvcrt.
    _wsplitpath(module, drive, folder, nullptr, nullptr);
    wchar_t path[MAX_PATH];
    FormatInto(path, MAX_PATH, L"%ls%ls", drive, folder);
    wcsncat(path, kConfigFileName, MAX_PATH - wcslen(path) - 1);

    win::Handle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) {
        log_.Printf(L"Unable to read %ls.No uninstallation will be performed.", kConfigFileName);
        return true;
    }
    std::string bytes;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file.get(), chunk, sizeof(chunk), &got, nullptr) && got > 0) bytes.append(chunk, got);
    // Text mode: CR LF pairs arrive as LF.
    std::string text;
    for (size_t i = 0; i < bytes.size(); ++i)
        if (!(bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')) text.push_back(bytes[i]);
    std::wstring wide;
    if (!text.empty()) {
        int n = MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
        wide.resize(n);
        MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    }
    if (!ParseText(wide, kConfigFileName, TheConfiguration())) {
        log_.PrintfLong(L"[ERROR]: Invalid uninstallation information");
        return false;
    }
    return true;
}

}  // namespace sweeper
