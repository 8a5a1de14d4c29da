#pragma once
// Switching the suite's self-protection through its business-logic framework.

#include <windows.h>

#include <string>

// "/businessObject/EP_TOPIC_NAME_TECHNOLOGY/EP_BO_TECHNOLOGY_ENABLE"
std::wstring SelfProtectionPropertyPath();

// Sets the self-protection property of the object "SP" to enable. Returns 0
// when set, 1 when the framework cannot start, or the framework's status from
// opening the object or setting the property. The framework is cleaned up
// after every start attempt.
DWORD SwitchSelfProtection(bool enable);
