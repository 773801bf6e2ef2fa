#include "editorhooks.h"

bool gAreaCheckActive = false;

EditorCycleHooks &editorCycleHooks()
{
    static EditorCycleHooks hooks;
    return hooks;
}
