#pragma once

#include "compose/surface/body_editor.h"

namespace velmora::testing_support {

// How long a test waits for the web engine. Its first start after install,
// on two cores with other tests beside it, has taken longer than 5 s; a wait
// on a condition ends as soon as the condition holds, so a generous limit
// costs nothing when the engine is quick.
inline constexpr int kEngineWaitMs = 120000;

// Gives an editor's own waits (document load, script answers) the same
// allowance.
inline void allowEngineColdStart(compose::BodyEditor& editor) {
    editor.setDocumentTimeout(kEngineWaitMs);
    editor.setScriptTimeout(kEngineWaitMs);
}

} // namespace velmora::testing_support
