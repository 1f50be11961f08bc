// In-tree only, never installed: the scripted prompts live with the tests now. This name
// keeps test sources that still spell the old path building; new code includes
// "ScriptedPrompts.h" from tests/shared.
#pragma once
#include "../../../tests/shared/ScriptedPrompts.h"
