#pragma once
// The suite agent's language helper: which user-interface language the agent's
// desktop components use, whether a language has a resource set or is written
// right to left, and the agent connector's language settings. Stateless: every
// answer is read from the registry, the locale functions and the agent's
// folders at the time of the call. Failures give the "no" answer of the
// operation; nothing is logged.

#include <windows.h>

#include <string>
#include <vector>

namespace LangUtils {

// Called once per resource language; returning false stops the walk.
using ResourceLanguageCallback = bool (*)(LANGID language, void* context);

// Slot order is the agent's binary interface: keep it.
class IMUIHelper {
public:
    // 0: abbreviation of GetSystemUILocale, user overrides allowed.
    virtual bool GetSystemLanguageAbbreviation(std::wstring& abbreviation) = 0;
    // 1
    virtual LANGID GetSystemDefaultUILanguage() = 0;
    // 2: "%04x" of the system default UI language.
    virtual std::wstring GetSystemUILanguageText() = 0;
    // 3: ConvertDefaultLocale of the system default UI language.
    virtual LCID GetSystemUILocale() = 0;
    // 4: "%08x" of GetSystemDefaultLCID.
    virtual std::wstring GetSystemLcidText() = 0;
    // 5: abbreviation of the configured language; false if none.
    virtual bool GetConfiguredLanguageAbbreviation(std::wstring& abbreviation) = 0;
    // 6: the configured language; false if none.
    virtual bool GetConfiguredLanguage(LANGID& language) = 0;
    // 7: "%04x" of slot 6; false if none.
    virtual bool GetConfiguredLanguageText(std::wstring& text) = 0;
    // 8: the decimal "LANGID" value of root's desktop user interface key; false
    // if it cannot be read.
    virtual bool ReadConfiguredLanguageFrom(HKEY root, DWORD& language) = 0;
    // 9: slot 8 for HKEY_CURRENT_USER; false if missing, unreadable or 0.
    virtual bool ReadConfiguredLanguage(DWORD& language) = 0;
    // 10: reserved, always 0.
    virtual int Reserved() = 0;
    // 11: deletes the configured language (and the components' own copies);
    // true when nothing remains configured.
    virtual bool ResetConfiguredLanguage() = 0;
    // 12: "%08x" of slot 9; false if none.
    virtual bool GetConfiguredLcidText(std::wstring& text) = 0;
    // 13: abbreviation of slot 16's locale, without user overrides.
    virtual bool GetEffectiveLanguageAbbreviation(std::wstring& abbreviation) = 0;
    // 14: slot 16 as a language.
    virtual LANGID GetEffectiveLanguage() = 0;
    // 15: "%04x" of slot 14.
    virtual std::wstring GetEffectiveLanguageText() = 0;
    // 16: the language the user interface uses, first match wins: the configured
    // one; the user's UI language or its base language, the system's, the
    // partner default, each only with a resource folder; US English.
    virtual LCID GetEffectiveUILanguage() = 0;
    // 17: "%08x" of slot 16.
    virtual std::wstring GetEffectiveLcidText() = 0;
    // 18: true if the agent's resource folder of the language exists.
    virtual bool IsResourceLanguageAvailable(LANGID language) = 0;
    // 19: true if the language's bit (from Languages.xml) is set in the
    // installed-languages bitmask; slot 18 when either is unknown. The
    // registry's install folder and bitmask win over the ones given.
    virtual bool IsLanguageInstalled(LANGID language, const std::wstring& installFolder,
                                     const std::wstring& bitmaskText) = 0;
    // 20: the locale's English language name.
    virtual bool GetEnglishLanguageName(LCID locale, std::wstring& name) = 0;
    // 21: "szPartnerDefaultLanguage" as a decimal number; 0 if missing.
    virtual DWORD GetPartnerDefaultLanguage() = 0;
    // 22-24: write the setting into the agent connector key (64-bit view), or
    // with exportMode as a line of "ags.reg" in the Windows folder. An empty
    // value writes nothing. True if written.
    virtual bool SetPartnerDefaultLanguage(DWORD language, bool exportMode) = 0;
    virtual bool SetPartnerSupportedLanguages(const std::wstring& text, bool exportMode) = 0;
    virtual bool SetAdminPreferredLanguage(const std::wstring& text, bool exportMode) = 0;
    // 25: appends what EnumUILanguagesW lists, as text.
    virtual bool GetInstalledUILanguages(std::vector<std::wstring>& list) = 0;
    // 26: the "%04x" text parsed (1033 when it does not parse), then slot 27.
    virtual bool IsRightToLeft(const std::wstring& hexText) = 0;
    // 27: true if the language is written right to left.
    virtual bool IsRightToLeft(LANGID language) = 0;
    // 28: the language whose Windows abbreviation this is (any case); 0 if unknown.
    virtual LANGID LanguageFromAbbreviation(const std::wstring& abbreviation) = 0;
    // 29: the locale's abbreviation without user overrides.
    virtual bool GetLanguageAbbreviation(LCID locale, std::wstring& abbreviation) = 0;
    // 30: replaces the language by its supported base language; false and
    // unchanged if it has none.
    virtual bool MapToSupportedLanguage(LANGID& language) = 0;
    // 31: calls back with each valid language of the agent's resource folders;
    // true if the callback was called at least once.
    virtual bool ForEachResourceLanguage(ResourceLanguageCallback callback, void* context) = 0;
    // 32: slot 31 appending every language to the list.
    virtual bool GetResourceLanguages(std::vector<LANGID>& list) = 0;
    // 33: "cCountryISO=" and the registered country, else "CountryCulture=" and
    // the user locale's country code.
    virtual std::wstring GetCountry() = 0;
    // 34: the user's UI language when two or more are installed, else the
    // user's default language.
    virtual LANGID GetDefaultLanguage() = 0;
    // 35: destroys a helper made with new.
    virtual void Release() = 0;
    // 36
    virtual ~IMUIHelper() = default;
};

class CMUIHelper : public IMUIHelper {
public:
    bool GetSystemLanguageAbbreviation(std::wstring& abbreviation) override;
    LANGID GetSystemDefaultUILanguage() override;
    std::wstring GetSystemUILanguageText() override;
    LCID GetSystemUILocale() override;
    std::wstring GetSystemLcidText() override;
    bool GetConfiguredLanguageAbbreviation(std::wstring& abbreviation) override;
    bool GetConfiguredLanguage(LANGID& language) override;
    bool GetConfiguredLanguageText(std::wstring& text) override;
    bool ReadConfiguredLanguageFrom(HKEY root, DWORD& language) override;
    bool ReadConfiguredLanguage(DWORD& language) override;
    int Reserved() override;
    bool ResetConfiguredLanguage() override;
    bool GetConfiguredLcidText(std::wstring& text) override;
    bool GetEffectiveLanguageAbbreviation(std::wstring& abbreviation) override;
    LANGID GetEffectiveLanguage() override;
    std::wstring GetEffectiveLanguageText() override;
    LCID GetEffectiveUILanguage() override;
    std::wstring GetEffectiveLcidText() override;
    bool IsResourceLanguageAvailable(LANGID language) override;
    bool IsLanguageInstalled(LANGID language, const std::wstring& installFolder,
                             const std::wstring& bitmaskText) override;
    bool GetEnglishLanguageName(LCID locale, std::wstring& name) override;
    DWORD GetPartnerDefaultLanguage() override;
    bool SetPartnerDefaultLanguage(DWORD language, bool exportMode) override;
    bool SetPartnerSupportedLanguages(const std::wstring& text, bool exportMode) override;
    bool SetAdminPreferredLanguage(const std::wstring& text, bool exportMode) override;
    bool GetInstalledUILanguages(std::vector<std::wstring>& list) override;
    bool IsRightToLeft(const std::wstring& hexText) override;
    bool IsRightToLeft(LANGID language) override;
    LANGID LanguageFromAbbreviation(const std::wstring& abbreviation) override;
    bool GetLanguageAbbreviation(LCID locale, std::wstring& abbreviation) override;
    bool MapToSupportedLanguage(LANGID& language) override;
    bool ForEachResourceLanguage(ResourceLanguageCallback callback, void* context) override;
    bool GetResourceLanguages(std::vector<LANGID>& list) override;
    std::wstring GetCountry() override;
    LANGID GetDefaultLanguage() override;
    void Release() override;
};

// Bit b of an installed-languages bitmask written as hexadecimal text, the
// last byte holding bits 0 to 7; an odd count of digits has a "0" put in front.
bool IsBitSetInHexMask(const std::wstring& hexText, int bit);

}  // namespace LangUtils
