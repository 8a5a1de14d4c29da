#pragma once
// Where the switch list reports a broken link: the source line and one of the
// fixed "ASSERT - ..." texts.
void ReportSwitchListFault(int line, const char* text);
