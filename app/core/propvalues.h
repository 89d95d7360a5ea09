#ifndef KIVREL_CORE_PROPVALUES_H
#define KIVREL_CORE_PROPVALUES_H

// The arithmetic of the data-source property pages, apart from their
// widgets: how a typed number is checked, how the engine's units become the
// user's, how radio positions, check boxes and bit masks map onto the
// engine's values, and the texts a page joins or checks. Pure functions;
// any thread.

#include "datasources/kv_httpver.h"
#include "foundation/kv_string.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

namespace kvprop {

// The engine's strings are UTF-8 bytes.
QString FromKv(const KV_String& text);
KV_String ToKv(const QString& text);

// ---- typed numbers

enum class NumCheck {
    ok,
    not_number,   // empty, a sign, or anything but decimal digits
    out_of_range, // a number outside min..max (also one too big for 32 bits)
};

// Reads an unsigned decimal number, blanks around it allowed, and checks it
// against min..max; `value` is set only for ok.
NumCheck CheckUInt(const QString& text, uint32_t min, uint32_t max, uint32_t& value);
// The message for a failed check: "Please enter a positive integer." or
// "Please enter an integer between <min> and <max>."; empty for ok.
QString NumCheckMessage(NumCheck check, uint32_t min, uint32_t max);

// ---- units: the engine's getters give milliseconds and bytes, its setters
// take seconds and kilobytes

// Whole seconds of a time-out in milliseconds.
uint32_t MsToSeconds(uint32_t ms);
// Whole kilobytes of a size in bytes; negative sizes give 0, sizes beyond 32
// bits of kilobytes give the largest value.
uint32_t BytesToKb(int64_t bytes);

// ---- FTP

// The data-connection radios: 0 Automatic (mode 3), 1 Passive (mode 2),
// 2 Normal (mode 1); any other stored mode shows Automatic.
int ConnModeToRadio(uint32_t mode);
// The mode of a radio; 0 for an index outside 0..2 (nothing to save).
uint32_t RadioToConnMode(int index);
// The keep-alive radios: 0 NOOP (command 0), 1 PWD (command 1); -1 (no radio)
// for another stored command, which the page keeps.
int KeepAliveToRadio(uint32_t cmd);
// The LIST flags the page shows and saves: bit 0 "-a", bit 1 "-L"; other
// bits are not the page's and are not saved.
uint8_t ListFlags(bool all_files, bool resolve_links);

// ---- paths

// A default folder as the main pages accept it: empty, or beginning with
// the data source's directory separator. `trimmed` is the typed text
// trimmed at both ends.
bool IsValidDefPath(const QString& trimmed, char dir_sep);

// ---- HTTP

// The methods of the authorisation box; item i is bit i of the mask.
const QStringList& HttpMethods();
// The mask of the checked items (bit i for item i; items past 16 ignored).
uint16_t MethodMask(const std::vector<bool>& checked);
// Whether item i is checked in `mask`.
bool MethodChecked(uint16_t mask, int index);

enum class DocCheck {
    empty,   // refused without a word
    invalid, // refused with the page's message
    ok,
};
// A registered document as typed (trimmed): it must begin with "/".
DocCheck CheckDocPath(const QString& trimmed);
// The stored form of the documents list: each trimmed non-empty item
// followed by CR LF, in the given order.
QString JoinDocs(const QStringList& items);

// The version radios: 0 for 1.0, 1 for 1.1, -1 for any other version.
int VersionToRadio(const KV_HttpVer& version);
// The version of a radio; an invalid version (0.0) for anything but 0 and 1.
KV_HttpVer RadioToVersion(int index);

// ---- SSH ciphers: the option holds the names that must not be used

struct CipherCheck
{
    QString name;
    bool allowed;
};

// Every cipher the client knows, in its order, allowed unless `disabled`
// (a comma list, parts trimmed) names it. Names the client does not know
// are not shown.
std::vector<CipherCheck> CipherChecks(const KV_String& disabled);
// The disabled list to store: the names of the items not allowed, in list
// order, joined with "," (empty when every item is allowed).
KV_String DisabledCiphers(const std::vector<CipherCheck>& checks);

// ---- the browse-window layout word: low byte this data source's panes,
// high byte those of the one opened beside it; bit 0 tree, 1 list,
// 2 details

struct Panes
{
    bool own[3] = {};   // tree, list, details
    bool other[3] = {}; // the same for the second data source
};

Panes PanesFromWord(uint16_t disp_info);
uint16_t PanesToWord(const Panes& panes);
// A side without any pane gets its tree, so that a window never opens empty.
void FixEmptySides(Panes& panes);
// Whether pane `index` of a side may be switched: not when it is the only
// one checked.
bool PaneSwitchable(const bool side[3], int index);

} // namespace kvprop

#endif
