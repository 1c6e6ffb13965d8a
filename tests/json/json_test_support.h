#pragma once
// Helpers shared by the JSON document tests.

#include <string_view>

#include "json/json_document.h"

namespace qx::test {

// A token reply as the local emulator of the speech service gives it.
inline constexpr std::string_view kTokenReply =
    R"({"access_token":"qxemu.3f9a0c5e7b21d4468e0f5a9c1b7d2e4f6a8c0b3d.2419200",)"
    R"("expires_in":2419200,"scope":"tts"})";
inline constexpr std::string_view kToken = "qxemu.3f9a0c5e7b21d4468e0f5a9c1b7d2e4f6a8c0b3d.2419200";

// A document that can also look at the engine's globals.
class ProbedDocument : public JsonDocument {
public:
    // The global's value as text, or "undefined" when it does not exist.
    [[nodiscard]] Text global(std::string_view name) {
        const Text n(name);
        return variantText(scriptEngine().call(
            "Eval", {"typeof " + n + "==='undefined'?'undefined':String(" + n + ")"}));
    }
    void runScript(std::string_view script) { (void)scriptEngine().call("AddCode", {script}); }
};

// A document whose engine cannot be created.
class EngineLessDocument : public JsonDocument {
public:
    EngineLessDocument() : JsonDocument("QXtts.NoSuchScriptEngine.1") {}
};

}  // namespace qx::test
