#include "MUIHelper.h"

#include "Com.h"
#include "FolderValue.h"
#include "Handle.h"
#include "LanguageTables.h"
#include "Removal.h"

#include <msxml2.h>

#include <cwchar>

namespace LangUtils {

namespace {

constexpr wchar_t kDesktopUiKey[] = L"SOFTWARE\\Zelmar\\ManagedServices\\DesktopUI";
constexpr wchar_t kConnectorKey[] = L"SOFTWARE\\Zelmar\\Endpoint\\Common\\AGSConnector";
constexpr wchar_t kRegistrationKey[] = L"SOFTWARE\\Zelmar\\ManagedServices\\Agent\\Registration";
constexpr wchar_t kQuellorReloComponent[] = L"SOFTWARE\\Zelmar\\ManagedServices\\Agent\\Components\\QuellorRelo";
constexpr wchar_t kBrowseProtectionComponent[] =
    L"SOFTWARE\\Zelmar\\ManagedServices\\Agent\\Components\\BrowseProtection";
constexpr wchar_t kQlCoreUserKey[] = L"SOFTWARE\\Zelmar\\ZuzadaZozi\\QLCore";
constexpr wchar_t kNetwardenUserKey[] = L"SOFTWARE\\Netwarden";
// The export reads like a registry export file; a bare file name lands in the Windows folder.
constexpr wchar_t kExportFile[] = L"ags.reg";
constexpr wchar_t kExportSection[] = L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Zelmar\\Endpoint\\Common\\Agsconnector";
// The connector key is the newer suite's common installer's, in the 64-bit
// view: its settings are written there and read from there.
constexpr win::RegView kConnectorView = win::RegView::Bit64;
constexpr REGSAM kSettingAccess = READ_CONTROL | KEY_CREATE_SUB_KEY | KEY_SET_VALUE;
constexpr LANGID kUsEnglish = 1033;
constexpr size_t kPathChars = 260;
constexpr size_t kLanguageIdChars = 32;
constexpr size_t kCountryChars = 32;
constexpr size_t kLocaleTextChars = 32;

// The MSXML DOM document class and its interface, by their published GUIDs.
constexpr CLSID kClsidDomDocument = {0x2933BF90, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
constexpr IID kIidDomDocument = {0x2933BF81, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
constexpr IID kIidDomElement = {0x2933BF86, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

std::wstring Hex(unsigned value, const wchar_t* format)
{
    wchar_t text[16] = {};
    _snwprintf(text, 15, format, value);
    return text;
}

std::wstring LanguageText(LANGID language) { return Hex(language, L"%04x"); }
std::wstring LcidText(LCID locale) { return Hex(locale, L"%08x"); }

// A locale text: 32 characters first, then the size Windows asks for.
bool LocaleText(LCID locale, LCTYPE type, std::wstring& out)
{
    wchar_t small[kLocaleTextChars] = {};
    if (GetLocaleInfoW(locale, type, small, kLocaleTextChars) > 0) {
        out = small;
        return true;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
    int needed = GetLocaleInfoW(locale, type, nullptr, 0);
    if (needed <= 0) return false;
    std::wstring text(static_cast<size_t>(needed), L'\0');
    if (GetLocaleInfoW(locale, type, text.data(), needed) <= 0) return false;
    out.assign(text.c_str());
    return true;
}

bool OpenConnector(win::Key& key)
{
    return win::OpenKey(HKEY_LOCAL_MACHINE, kConnectorKey, KEY_READ, kConnectorView, key) == ERROR_SUCCESS;
}

bool AgentInstallFolder(std::wstring& folder)
{
    return ReadFolderValue(HKEY_LOCAL_MACHINE, kConnectorKey, L"szInstallDir", kPathChars, kConnectorView, folder) ==
           ERROR_SUCCESS;
}

bool KeyExists(HKEY root, const wchar_t* path)
{
    HKEY raw = nullptr;
    if (RegOpenKeyExW(root, path, 0, KEY_READ, &raw) != ERROR_SUCCESS) return false;
    RegCloseKey(raw);
    return true;
}

void DeleteUserValue(const wchar_t* path, const wchar_t* name)
{
    win::removal::RemoveValue(HKEY_CURRENT_USER, path, win::RegView::Native, name);
}

// The attribute's text; empty when the element lacks it.
std::wstring AttributeText(IXMLDOMElement* element, const wchar_t* name)
{
    win::Bstr attribute(name);
    win::Variant value;
    if (element->getAttribute(attribute.get(), value.put()) != S_OK || value.get().vt != VT_BSTR) return {};
    return std::wstring(value.get().bstrVal, SysStringLen(value.get().bstrVal));
}

// The "BitmaskBitPosition" of the first child element of the document element
// whose "langID" is languageText (any case); -1 when there is none.
int BitPositionInLanguageList(const std::wstring& file, const std::wstring& languageText)
{
    win::ComInit com;
    win::ComPtr<IXMLDOMDocument> document;
    if (FAILED(CoCreateInstance(kClsidDomDocument, nullptr, CLSCTX_INPROC_SERVER, kIidDomDocument,
                                document.putVoid())))
        return -1;
    VARIANT source;
    VariantInit(&source);
    win::Bstr path(file.c_str());
    source.vt = VT_BSTR;
    source.bstrVal = path.get();
    VARIANT_BOOL loaded = VARIANT_FALSE;
    win::ComPtr<IXMLDOMElement> root;
    win::ComPtr<IXMLDOMNodeList> children;
    long count = 0;
    if (FAILED(document->load(source, &loaded)) || loaded != VARIANT_TRUE ||
        document->get_documentElement(root.put()) != S_OK || !root.get() ||
        FAILED(root->get_childNodes(children.put())) || !children.get() || FAILED(children->get_length(&count)))
        return -1;
    for (long i = 0; i < count; ++i) {
        win::ComPtr<IXMLDOMNode> node;
        DOMNodeType type = NODE_INVALID;
        if (children->get_item(i, node.put()) != S_OK || !node.get() || FAILED(node->get_nodeType(&type)) ||
            type != NODE_ELEMENT)
            continue;
        win::ComPtr<IXMLDOMElement> element;
        if (FAILED(node->QueryInterface(kIidDomElement, element.putVoid())) || !element.get() ||
            _wcsicmp(AttributeText(element.get(), L"langID").c_str(), languageText.c_str()) != 0)
            continue;
        const std::wstring position = AttributeText(element.get(), L"BitmaskBitPosition");
        wchar_t* end = nullptr;
        long bit = wcstol(position.c_str(), &end, 10);
        return end != position.c_str() && bit >= 0 && bit <= 0x7FFF ? static_cast<int>(bit) : -1;
    }
    return -1;
}

bool WriteSetting(const wchar_t* name, const std::wstring& value, bool exportMode)
{
    if (value.empty()) return false;
    if (exportMode) {
        const std::wstring quotedName = std::wstring(L"\"") + name + L"\"";
        const std::wstring quotedValue = L"\"" + value + L"\"";
        return WritePrivateProfileStringW(kExportSection, quotedName.c_str(), quotedValue.c_str(), kExportFile) !=
               FALSE;
    }
    win::Key key;
    if (win::OpenKey(HKEY_LOCAL_MACHINE, kConnectorKey, kSettingAccess, kConnectorView, key) != ERROR_SUCCESS)
        return false;
    return RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

BOOL CALLBACK AppendUiLanguage(LPWSTR language, LONG_PTR context)
{
    reinterpret_cast<std::vector<std::wstring>*>(context)->push_back(language);
    return TRUE;
}

BOOL CALLBACK CountUiLanguage(LPWSTR, LONG_PTR context)
{
    return ++*reinterpret_cast<int*>(context) < 2;
}

bool CollectLanguage(LANGID language, void* context)
{
    static_cast<std::vector<LANGID>*>(context)->push_back(language);
    return true;
}

}  // namespace

bool IsBitSetInHexMask(const std::wstring& hexText, int bit)
{
    if (bit < 0) return false;
    const std::wstring digits = hexText.size() % 2 ? L"0" + hexText : hexText;
    const size_t count = digits.size() / 2;
    if (static_cast<size_t>(bit) >= 8 * count) return false;
    const size_t index = count - 1 - static_cast<size_t>(bit) / 8;
    unsigned value = 0;
    if (swscanf(digits.substr(2 * index, 2).c_str(), L"%02x", &value) != 1) value = 0;
    return (value & (1u << (bit % 8))) != 0;
}

bool CMUIHelper::GetSystemLanguageAbbreviation(std::wstring& abbreviation)
{
    return LocaleText(GetSystemUILocale(), LOCALE_SABBREVLANGNAME, abbreviation);
}

LANGID CMUIHelper::GetSystemDefaultUILanguage() { return ::GetSystemDefaultUILanguage(); }

std::wstring CMUIHelper::GetSystemUILanguageText() { return LanguageText(::GetSystemDefaultUILanguage()); }

LCID CMUIHelper::GetSystemUILocale() { return ConvertDefaultLocale(::GetSystemDefaultUILanguage()); }

std::wstring CMUIHelper::GetSystemLcidText() { return LcidText(GetSystemDefaultLCID()); }

bool CMUIHelper::GetConfiguredLanguageAbbreviation(std::wstring& abbreviation)
{
    LANGID language = 0;
    return GetConfiguredLanguage(language) && LocaleText(language, LOCALE_SABBREVLANGNAME, abbreviation);
}

bool CMUIHelper::GetConfiguredLanguage(LANGID& language)
{
    DWORD configured = 0;
    if (!ReadConfiguredLanguage(configured)) return false;
    language = static_cast<LANGID>(configured);
    return true;
}

bool CMUIHelper::GetConfiguredLanguageText(std::wstring& text)
{
    LANGID language = 0;
    if (!GetConfiguredLanguage(language)) return false;
    text = LanguageText(language);
    return true;
}

bool CMUIHelper::ReadConfiguredLanguageFrom(HKEY root, DWORD& language)
{
    HKEY raw = nullptr;
    if (RegOpenKeyExW(root, kDesktopUiKey, 0, KEY_READ, &raw) != ERROR_SUCCESS) return false;
    win::Key key(raw);
    std::wstring text;
    if (ReadBoundedString(key.get(), L"LANGID", kLanguageIdChars, text) != ERROR_SUCCESS) return false;
    // Text that is no decimal number reads as 0: nothing configured.
    language = wcstoul(text.c_str(), nullptr, 10);
    return true;
}

bool CMUIHelper::ReadConfiguredLanguage(DWORD& language)
{
    DWORD configured = 0;
    if (!ReadConfiguredLanguageFrom(HKEY_CURRENT_USER, configured) || configured == 0) return false;
    language = configured;
    return true;
}

int CMUIHelper::Reserved() { return 0; }

bool CMUIHelper::ResetConfiguredLanguage()
{
    HKEY raw = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kDesktopUiKey, 0, KEY_READ | KEY_WRITE, &raw) != ERROR_SUCCESS)
        return false;
    win::Key key(raw);
    std::wstring text;
    if (ReadBoundedString(key.get(), L"LANGID", kLanguageIdChars, text) != ERROR_SUCCESS) return true;
    key.reset();
    if (!win::removal::RemoveValue(HKEY_CURRENT_USER, kDesktopUiKey, win::RegView::Native, L"LANGID").gone())
        return false;
    // The components keep their own copy of the choice.
    if (KeyExists(HKEY_LOCAL_MACHINE, kQuellorReloComponent)) DeleteUserValue(kQlCoreUserKey, L"PreferredLanguage");
    if (KeyExists(HKEY_LOCAL_MACHINE, kBrowseProtectionComponent))
        DeleteUserValue(kNetwardenUserKey, L"LanguageOverride");
    return true;
}

bool CMUIHelper::GetConfiguredLcidText(std::wstring& text)
{
    DWORD language = 0;
    if (!ReadConfiguredLanguage(language)) return false;
    text = LcidText(language);
    return true;
}

bool CMUIHelper::GetEffectiveLanguageAbbreviation(std::wstring& abbreviation)
{
    return GetLanguageAbbreviation(GetEffectiveUILanguage(), abbreviation);
}

LANGID CMUIHelper::GetEffectiveLanguage() { return LANGIDFROMLCID(GetEffectiveUILanguage()); }

std::wstring CMUIHelper::GetEffectiveLanguageText() { return LanguageText(GetEffectiveLanguage()); }

LCID CMUIHelper::GetEffectiveUILanguage()
{
    DWORD configured = 0;
    if (ReadConfiguredLanguage(configured)) return configured;

    // The language itself if its resources are there, else its base language if those are.
    auto withResources = [this](LANGID language, LANGID& chosen) {
        if (IsResourceLanguageAvailable(language)) {
            chosen = language;
            return true;
        }
        LANGID base = language;
        if (!MapToSupportedLanguage(base) || !IsResourceLanguageAvailable(base)) return false;
        chosen = base;
        return true;
    };
    LANGID chosen = 0;
    if (withResources(GetUserDefaultUILanguage(), chosen)) return ConvertDefaultLocale(chosen);
    if (withResources(::GetSystemDefaultUILanguage(), chosen)) return chosen;
    if (withResources(static_cast<LANGID>(GetPartnerDefaultLanguage()), chosen)) return ConvertDefaultLocale(chosen);
    return ConvertDefaultLocale(kUsEnglish);
}

std::wstring CMUIHelper::GetEffectiveLcidText() { return LcidText(GetEffectiveUILanguage()); }

bool CMUIHelper::IsResourceLanguageAvailable(LANGID language)
{
    std::wstring folder;
    if (!AgentInstallFolder(folder)) return false;
    return GetFileAttributesW((folder + L"\\Agent\\Res\\" + LanguageText(language)).c_str()) !=
           INVALID_FILE_ATTRIBUTES;
}

bool CMUIHelper::IsLanguageInstalled(LANGID language, const std::wstring& installFolder,
                                     const std::wstring& bitmaskText)
{
    std::wstring folder;
    if (!AgentInstallFolder(folder)) folder = installFolder.substr(0, kPathChars - 1);
    if (folder.empty()) return false;

    int bit = -1;
    const std::wstring list = folder + L"\\Languages.xml";
    if (GetFileAttributesW(list.c_str()) != INVALID_FILE_ATTRIBUTES)
        bit = BitPositionInLanguageList(list, LanguageText(language));
    if (bit < 0) return IsResourceLanguageAvailable(language);

    std::wstring mask;
    win::Key connector;
    if (!OpenConnector(connector) ||
        ReadBoundedString(connector.get(), L"szPartnerSupportedInstalledLanguages", kPathChars, mask) !=
            ERROR_SUCCESS)
        mask = bitmaskText;
    if (mask.empty()) return IsResourceLanguageAvailable(language);
    return IsBitSetInHexMask(mask, bit);
}

bool CMUIHelper::GetEnglishLanguageName(LCID locale, std::wstring& name)
{
    return LocaleText(locale, LOCALE_SENGLANGUAGE, name);
}

DWORD CMUIHelper::GetPartnerDefaultLanguage()
{
    win::Key connector;
    std::wstring text;
    if (!OpenConnector(connector) ||
        ReadBoundedString(connector.get(), L"szPartnerDefaultLanguage", kPathChars, text) != ERROR_SUCCESS)
        return 0;
    return wcstoul(text.c_str(), nullptr, 10);
}

bool CMUIHelper::SetPartnerDefaultLanguage(DWORD language, bool exportMode)
{
    return WriteSetting(L"szPartnerDefaultLanguage", std::to_wstring(language), exportMode);
}

bool CMUIHelper::SetPartnerSupportedLanguages(const std::wstring& text, bool exportMode)
{
    return WriteSetting(L"szPartnerSupportedInstalledLanguages", text, exportMode);
}

bool CMUIHelper::SetAdminPreferredLanguage(const std::wstring& text, bool exportMode)
{
    return WriteSetting(L"szAdminPreferredLanguage", text, exportMode);
}

bool CMUIHelper::GetInstalledUILanguages(std::vector<std::wstring>& list)
{
    return EnumUILanguagesW(AppendUiLanguage, 0, reinterpret_cast<LONG_PTR>(&list)) != FALSE;
}

bool CMUIHelper::IsRightToLeft(const std::wstring& hexText)
{
    unsigned language = 0;
    if (swscanf(hexText.c_str(), L"%04x", &language) != 1) language = kUsEnglish;
    return IsRightToLeft(static_cast<LANGID>(language));
}

bool CMUIHelper::IsRightToLeft(LANGID language) { return IsRightToLeftLanguage(language); }

LANGID CMUIHelper::LanguageFromAbbreviation(const std::wstring& abbreviation)
{
    return FindLanguageOfAbbreviation(abbreviation.c_str());
}

bool CMUIHelper::GetLanguageAbbreviation(LCID locale, std::wstring& abbreviation)
{
    return LocaleText(locale, LOCALE_SABBREVLANGNAME | LOCALE_NOUSEROVERRIDE, abbreviation);
}

bool CMUIHelper::MapToSupportedLanguage(LANGID& language) { return FindBaseLanguage(language, language); }

bool CMUIHelper::ForEachResourceLanguage(ResourceLanguageCallback callback, void* context)
{
    std::wstring folder;
    if (!AgentInstallFolder(folder)) return false;
    WIN32_FIND_DATAW found{};
    win::FindHandle find(FindFirstFileW((folder + L"\\Agent\\Res\\*").c_str(), &found));
    if (!find) return false;
    bool called = false;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || wcscmp(found.cFileName, L".") == 0 ||
            wcscmp(found.cFileName, L"..") == 0)
            continue;
        unsigned language = 0;
        if (swscanf(found.cFileName, L"%04x", &language) != 1) language = kUsEnglish;
        if (!IsValidLocale(language, LCID_SUPPORTED)) continue;
        called = true;
        if (!callback(static_cast<LANGID>(language), context)) break;
    } while (FindNextFileW(find.get(), &found));
    return called;
}

bool CMUIHelper::GetResourceLanguages(std::vector<LANGID>& list)
{
    return ForEachResourceLanguage(CollectLanguage, &list);
}

std::wstring CMUIHelper::GetCountry()
{
    HKEY raw = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kRegistrationKey, 0, KEY_READ, &raw) == ERROR_SUCCESS) {
        win::Key key(raw);
        std::wstring registered;
        if (ReadBoundedString(key.get(), L"szCountry", kCountryChars, registered) == ERROR_SUCCESS)
            return L"cCountryISO=" + registered;
    }
    std::wstring country = L"US";
    LocaleText(GetUserDefaultLCID(), LOCALE_SISO3166CTRYNAME, country);
    return L"CountryCulture=" + country;
}

LANGID CMUIHelper::GetDefaultLanguage()
{
    int installed = 0;
    EnumUILanguagesW(CountUiLanguage, 0, reinterpret_cast<LONG_PTR>(&installed));
    return installed >= 2 ? GetUserDefaultUILanguage() : GetUserDefaultLangID();
}

void CMUIHelper::Release() { delete this; }

}  // namespace LangUtils
