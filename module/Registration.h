// The registry entries of CTextToSpeech and the small script applier that
// writes and removes them.
#pragma once

#include <orafon/win/windows.h>

#include <optional>
#include <string>
#include <vector>

namespace orafon::module {

// One key of a registry script, as in an ATL registrar script: NoRemove keys
// are kept on unregistration (only what is listed below them goes);
// ForceRemove keys end up holding exactly what the script writes below them
// (whatever else was there goes; the key itself is not deleted and made
// again, so concurrent registrations never delete keys under each other).
struct ScriptKey {
    enum class Mode { Normal, NoRemove, ForceRemove };
    std::string name;
    std::optional<std::string> value; // the default value
    std::vector<std::pair<std::string, std::string>> namedValues;
    std::vector<ScriptKey> subkeys;
    Mode mode = Mode::Normal;
};

// Applies the script under parent: register writes every key and value in
// order; unregister deletes every key that is not NoRemove, with its subtree.
// The first registry failure ends the call (as an HRESULT); keys already
// missing on unregistration are not failures. A registration whose keys
// another process deletes meanwhile starts over (a few times).
[[nodiscard]] HRESULT ApplyRegistryScript(HKEY parent, const std::vector<ScriptKey> &script, bool reg);

// The entries of CTextToSpeech with the module path filled in.
[[nodiscard]] std::vector<ScriptKey> TextToSpeechRegistryScript(const std::string &modulePath);

// The RegistryRoutine of the CTextToSpeech class table entry.
[[nodiscard]] HRESULT UpdateTextToSpeechRegistry(const char *modulePath, bool reg);

} // namespace orafon::module
