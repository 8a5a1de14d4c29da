#include "LanguageTables.h"

#include <initializer_list>

namespace LangUtils {

namespace {

// The Arabic variants, then Persian, Pashto, Punjabi, Turkmen, Uyghur, Hebrew,
// Syriac, Divehi and Urdu (Pakistan, India).
constexpr LANGID kRightToLeft[] = {
    0x0401, 0x0801, 0x0C01, 0x1001, 0x1401, 0x1801, 0x1C01, 0x2001, 0x2401, 0x2801, 0x2C01, 0x3001, 0x3401,
    0x3801, 0x3C01, 0x4001, 0x0429, 0x0463, 0x0446, 0x0442, 0x0480, 0x040D, 0x045A, 0x0465, 0x0420, 0x0820,
};

struct BaseRow {
    LANGID base;
    std::initializer_list<LANGID> mapped;
};

// Catalan (1027) is served by Spanish.
const BaseRow kBaseLanguages[] = {
    {1028, {1028, 3076, 5124}},
    {1031, {1031, 2055, 3079, 4103, 5127}},
    {1033, {1033, 2057, 3081, 4105, 5129, 6153, 7177, 8201, 9225, 10249, 11273, 12297, 13321}},
    {1034, {1027, 1034, 2058, 3082, 4106, 5130, 6154, 7178, 8202, 9226, 10250, 11274, 12298, 13322, 14346, 15370,
            16394, 17418, 18442, 19466, 20490}},
    {1036, {1036, 2060, 3084, 4108, 5132, 6156}},
    {1040, {1040, 2064}},
    {1043, {1043, 2067}},
    {1044, {1044, 2068}},
    {1053, {1053, 2077}},
    {2052, {2052, 4100}},
};

struct AbbreviationRow {
    const wchar_t* abbreviation;
    LANGID language;
};

// LOCALE_SABBREVLANGNAME of the languages of Windows XP's locales.
const AbbreviationRow kAbbreviations[] = {
    {L"AFK", 0x0436}, {L"SQI", 0x041C}, {L"ARA", 0x0401}, {L"ARI", 0x0801}, {L"ARE", 0x0C01}, {L"ARL", 0x1001},
    {L"ARG", 0x1401}, {L"ARM", 0x1801}, {L"ART", 0x1C01}, {L"ARO", 0x2001}, {L"ARY", 0x2401}, {L"ARS", 0x2801},
    {L"ARJ", 0x2C01}, {L"ARB", 0x3001}, {L"ARK", 0x3401}, {L"ARU", 0x3801}, {L"ARH", 0x3C01}, {L"ARQ", 0x4001},
    {L"HYE", 0x042B}, {L"AZE", 0x042C}, {L"AZC", 0x082C}, {L"EUQ", 0x042D}, {L"BEL", 0x0423}, {L"BGR", 0x0402},
    {L"CAT", 0x0403}, {L"CHT", 0x0404}, {L"CHS", 0x0804}, {L"ZHH", 0x0C04}, {L"ZHI", 0x1004}, {L"ZHM", 0x1404},
    {L"HRV", 0x041A}, {L"CSY", 0x0405}, {L"DAN", 0x0406}, {L"DIV", 0x0465}, {L"NLD", 0x0413}, {L"NLB", 0x0813},
    {L"ENU", 0x0409}, {L"ENG", 0x0809}, {L"ENA", 0x0C09}, {L"ENC", 0x1009}, {L"ENZ", 0x1409}, {L"ENI", 0x1809},
    {L"ENS", 0x1C09}, {L"ENJ", 0x2009}, {L"ENB", 0x2409}, {L"ENL", 0x2809}, {L"ENT", 0x2C09}, {L"ENW", 0x3009},
    {L"ENP", 0x3409}, {L"ETI", 0x0425}, {L"FOS", 0x0438}, {L"FAR", 0x0429}, {L"FIN", 0x040B}, {L"FRA", 0x040C},
    {L"FRB", 0x080C}, {L"FRC", 0x0C0C}, {L"FRS", 0x100C}, {L"FRL", 0x140C}, {L"FRM", 0x180C}, {L"GLC", 0x0456},
    {L"KAT", 0x0437}, {L"DEU", 0x0407}, {L"DES", 0x0807}, {L"DEA", 0x0C07}, {L"DEL", 0x1007}, {L"DEC", 0x1407},
    {L"ELL", 0x0408}, {L"GUJ", 0x0447}, {L"HEB", 0x040D}, {L"HIN", 0x0439}, {L"HUN", 0x040E}, {L"ISL", 0x040F},
    {L"IND", 0x0421}, {L"ITA", 0x0410}, {L"ITS", 0x0810}, {L"JPN", 0x0411}, {L"KDI", 0x044B}, {L"KKZ", 0x043F},
    {L"KNK", 0x0457}, {L"KOR", 0x0412}, {L"KYR", 0x0440}, {L"LVI", 0x0426}, {L"LTH", 0x0427}, {L"MKI", 0x042F},
    {L"MSL", 0x043E}, {L"MSB", 0x083E}, {L"MAR", 0x044E}, {L"MNN", 0x0450}, {L"NOR", 0x0414}, {L"NON", 0x0814},
    {L"PLK", 0x0415}, {L"PTB", 0x0416}, {L"PTG", 0x0816}, {L"PAN", 0x0446}, {L"ROM", 0x0418}, {L"RUS", 0x0419},
    {L"SAN", 0x044F}, {L"SRB", 0x0C1A}, {L"SRL", 0x081A}, {L"SKY", 0x041B}, {L"SLV", 0x0424}, {L"ESP", 0x040A},
    {L"ESM", 0x080A}, {L"ESN", 0x0C0A}, {L"ESG", 0x100A}, {L"ESC", 0x140A}, {L"ESA", 0x180A}, {L"ESD", 0x1C0A},
    {L"ESV", 0x200A}, {L"ESO", 0x240A}, {L"ESR", 0x280A}, {L"ESS", 0x2C0A}, {L"ESF", 0x300A}, {L"ESL", 0x340A},
    {L"ESY", 0x380A}, {L"ESZ", 0x3C0A}, {L"ESB", 0x400A}, {L"ESE", 0x440A}, {L"ESH", 0x480A}, {L"ESI", 0x4C0A},
    {L"ESU", 0x500A}, {L"SWK", 0x0441}, {L"SVE", 0x041D}, {L"SVF", 0x081D}, {L"SYR", 0x045A}, {L"TAI", 0x0449},
    {L"TTT", 0x0444}, {L"TEL", 0x044A}, {L"THA", 0x041E}, {L"TRK", 0x041F}, {L"UKR", 0x0422}, {L"URD", 0x0420},
    {L"UZB", 0x0443}, {L"UZC", 0x0843}, {L"VIT", 0x042A},
};

}  // namespace

bool IsRightToLeftLanguage(LANGID language)
{
    for (LANGID entry : kRightToLeft)
        if (entry == language) return true;
    return false;
}

bool FindBaseLanguage(LANGID language, LANGID& base)
{
    for (const BaseRow& row : kBaseLanguages)
        for (LANGID mapped : row.mapped)
            if (mapped == language) {
                base = row.base;
                return true;
            }
    return false;
}

LANGID FindLanguageOfAbbreviation(const wchar_t* abbreviation)
{
    for (const AbbreviationRow& row : kAbbreviations)
        if (CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, row.abbreviation, -1, abbreviation, -1) == CSTR_EQUAL)
            return row.language;
    return 0;
}

}  // namespace LangUtils
