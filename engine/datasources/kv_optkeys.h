// Keyed settings of the data-source file, one descriptor per key.
//
// An option class (and each data-source or group node) lists its keys once,
// in writing order, as a table of KV_OptKey: the key's name, how its value is
// written and read (the kind: a number and the rule its text must follow, a
// time-out, a flag, a text, a scrambled password ...), the getter and setter
// of the field, and what the value is compared with. save walks the table
// and writes each key whose value differs; load finds the key in the table
// and hands the value to the field's setter, so that a value read from the
// file passes the same checks as one set by the program.
//
// The value a key is compared with is the reference object's (the defaults a
// node inherits) unless the descriptor names a fixed default: the settings
// that other classes hold process-wide look the same through every object,
// so only a fixed text, read as the key's kind reads the file, can say when
// they differ.
//
// Threads: the tables are constant; save and load touch only the objects
// given.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "datasources/kv_keyval.h"
#include "datasources/kv_logindata.h"
#include "foundation/kv_storage.h"
#include "foundation/kv_string.h"

class KV_ErrHandler;

template <class O> struct KV_OptKey
{
    const char* name;
    // Writes the key when o's value differs from ref's (or from def). eh takes
    // the reason when a password cannot be scrambled; keys of other kinds do
    // not use it. False when the write fails.
    bool (*save)(KV_Storage& st, const KV_OptKey& key, const O& o, const O& ref, KV_ErrHandler* eh);
    // Takes the value the file holds. False refuses the file (a flag that is
    // neither YES nor NO, a password that cannot be unscrambled, a value the
    // field's own setter refuses); a number that does not follow its rule is
    // ignored, the field keeping its value, and gives true.
    bool (*load)(O& o, const KV_String& value);
    // The fixed default as the file would hold it; null: the reference's
    // value.
    const char* def;
};

// Writes the keys of `keys` in their order (o and ref may be of a class
// derived from O). False as soon as one write
// fails.
template <class O, size_t N>
bool kv_opt_save(const KV_OptKey<O> (&keys)[N], KV_Storage& st, const std::type_identity_t<O>& o,
                 const std::type_identity_t<O>& ref, KV_ErrHandler* eh = nullptr)
{
    for (const KV_OptKey<O>& k : keys)
        if (!k.save(st, k, o, ref, eh))
            return false;
    return true;
}

// handled := whether `key` is one of `keys`. The load result of that key, or
// true.
template <class O, size_t N>
bool kv_opt_load(const KV_OptKey<O> (&keys)[N], std::type_identity_t<O>& o, const KV_String& key,
                 const KV_String& value, bool& handled)
{
    for (const KV_OptKey<O>& k : keys) {
        if (key == k.name) {
            handled = true;
            return k.load(o, value);
        }
    }
    handled = false;
    return true;
}

// The user name and password of the login an object holds as ldata() (a
// server's parameters, a proxy), as key getters and setters.
template <class P> const KV_String& kv_ldata_user(const P& p)
{
    return p.ldata().user();
}
template <class P> void kv_ldata_set_user(P& p, const KV_String& user)
{
    p.ldata().set_user(user);
}
template <class P> const KV_String& kv_ldata_pass(const P& p)
{
    return p.ldata().pass();
}
template <class P> void kv_ldata_set_pass(P& p, const KV_String& pass)
{
    p.ldata().set_pass(pass);
}

// Rules by which the text of a number is read. Each gives false, with out
// untouched, for a text it does not take.
namespace kv_optread {

// The text must start with a decimal digit and its leading number must not
// exceed max (strtoul alone would take "" or "abc" for 0 and "-1" for
// ULONG_MAX).
bool dec(const KV_String& text, unsigned long max, unsigned long& out);
// As dec, with an optional '-' first and the number within min..max.
bool sdec(const KV_String& text, long min, long max, long& out);
// A non-negative decimal fraction ("1.500000"), read in the C locale;
// refuses "nan", "inf" and words that strtod would read as 0.
bool real(const KV_String& text, double& out);

template <unsigned long Max = UINT32_MAX> bool num(const KV_String& text, unsigned long& out)
{
    return dec(text, Max, out);
}
template <long Min, long Max> bool snum(const KV_String& text, long& out)
{
    return sdec(text, Min, Max, out);
}
// A set of flag bits: a wider number keeps the flags it has (its low 8
// bits).
inline bool bits8(const KV_String& text, unsigned long& out)
{
    if (!dec(text, ULONG_MAX, out))
        return false;
    out &= 0xFF;
    return true;
}
// Read as leniently as the server keys always were (a text that is not a
// number counts as 0), but a number outside 0..Max is ignored rather than
// wrapped round into some other value.
template <unsigned long Max> bool loose(const KV_String& text, unsigned long& out)
{
    const long n = text.as_signed();
    if (n < 0 || static_cast<unsigned long>(n) > Max)
        return false;
    out = static_cast<unsigned long>(n);
    return true;
}
// As loose, through the unsigned reading of the text.
template <unsigned long Max> bool uloose(const KV_String& text, unsigned long& out)
{
    const unsigned long n = text.as_unsigned();
    if (n > Max)
        return false;
    out = n;
    return true;
}

} // namespace kv_optread

// The kinds of keys, as descriptor makers for the option class O:
//   KV_OptKeys<O>::num<&O::get, &O::set>("NAME")
// A getter is a const member function, a function of (const O&), or a
// function of no argument (a process-wide setting); a setter likewise a
// member function, a function of (O&, value) or of (value) alone.
template <class O> struct KV_OptKeys
{
    // A number written as unsigned decimal and read by Read (by default a
    // decimal that fits 32 bits).
    template <auto Get, auto Set, auto Read = &kv_optread::num<>>
    static constexpr KV_OptKey<O> num(const char* name, const char* def = nullptr)
    {
        return {name, &Num<Get, Set, Read, 1>::save, &Num<Get, Set, Read, 1>::load, def};
    }
    // A time-out: the getter gives milliseconds, the file and the setter
    // seconds (the setter ignores more than it can hold).
    template <auto Get, auto Set> static constexpr KV_OptKey<O> secs(const char* name)
    {
        using K = Num<Get, Set, &kv_optread::num<>, 1000>;
        return {name, &K::save, &K::load, nullptr};
    }
    // "YES" or "NO"; anything else refuses the file.
    template <auto Get, auto Set>
    static constexpr KV_OptKey<O> flag(const char* name, const char* def = nullptr)
    {
        return {name, &Flag<Get, Set>::save, &Flag<Get, Set>::load, def};
    }
    // A text, or a value written as its text and built from it. A setter
    // that returns bool decides whether the file is taken.
    template <auto Get, auto Set>
    static constexpr KV_OptKey<O> text(const char* name, const char* def = nullptr)
    {
        return {name, &Text<Get, Set>::save, &Text<Get, Set>::load, def};
    }
    // A decimal fraction with six decimals.
    template <auto Get, auto Set>
    static constexpr KV_OptKey<O> real(const char* name, const char* def = nullptr)
    {
        return {name, &Real<Get, Set>::save, &Real<Get, Set>::load, def};
    }
    // A password, written scrambled under KV_LoginData::bf_key and compared
    // scrambled, as the file holds it.
    template <auto Get, auto Set> static constexpr KV_OptKey<O> pass(const char* name)
    {
        return {name, &Pass<Get, Set>::save, &Pass<Get, Set>::load, nullptr};
    }

private:
    template <class F> struct Arg;
    template <class C, class R, class A> struct Arg<R (C::*)(A)>
    {
        using type = std::remove_cvref_t<A>;
    };
    template <class R, class A> struct Arg<R (*)(A)>
    {
        using type = std::remove_cvref_t<A>;
    };
    template <class R, class A> struct Arg<R (*)(O&, A)>
    {
        using type = std::remove_cvref_t<A>;
    };

    template <auto Get> static decltype(auto) get(const O& o)
    {
        if constexpr (std::is_member_function_pointer_v<decltype(Get)>)
            return (o.*Get)();
        else if constexpr (std::is_invocable_v<decltype(Get), const O&>)
            return Get(o);
        else
            return Get();
    }
    // v as the setter's parameter: itself when it has that type already (a
    // text is not copied), else converted.
    template <class A, class V> static decltype(auto) arg(const V& v)
    {
        if constexpr (std::is_same_v<A, V>)
            return (v);
        else
            return static_cast<A>(v);
    }
    // Calls the setter with v converted to its parameter's type; its result.
    template <auto Set, class V> static decltype(auto) set(O& o, const V& v)
    {
        using A = typename Arg<decltype(Set)>::type;
        if constexpr (std::is_member_function_pointer_v<decltype(Set)>)
            return (o.*Set)(arg<A>(v));
        else if constexpr (std::is_invocable_v<decltype(Set), O&, A>)
            return Set(o, arg<A>(v));
        else
            return Set(arg<A>(v));
    }
    // The setter's result when it has one, else true.
    template <auto Set, class V> static bool take(O& o, const V& v)
    {
        if constexpr (std::is_same_v<decltype(set<Set>(o, v)), bool>) {
            return set<Set>(o, v);
        } else {
            set<Set>(o, v);
            return true;
        }
    }

    template <auto Get, auto Set, auto Read, unsigned Div> struct Num
    {
        template <class V> static V read_type(bool (*)(const KV_String&, V&));
        using V = decltype(read_type(Read));
        static bool save(KV_Storage& st, const KV_OptKey<O>& k, const O& o, const O& ref,
                         KV_ErrHandler*)
        {
            const auto v = get<Get>(o) / Div;
            if (k.def != nullptr) {
                V d{};
                if (Read(KV_String(k.def), d) && static_cast<V>(v) == d)
                    return true;
            } else if (v == get<Get>(ref) / Div) {
                return true;
            }
            return KV_KeyVal::save_var(st, k.name, static_cast<unsigned long>(v));
        }
        static bool load(O& o, const KV_String& value)
        {
            V n{};
            return !Read(value, n) || take<Set>(o, n);
        }
    };

    template <auto Get, auto Set> struct Flag
    {
        static bool save(KV_Storage& st, const KV_OptKey<O>& k, const O& o, const O& ref,
                         KV_ErrHandler*)
        {
            const bool v = get<Get>(o);
            bool d = false;
            if (k.def != nullptr ? KV_KeyVal::set_bool(KV_String(k.def), d) && v == d
                                 : v == static_cast<bool>(get<Get>(ref)))
                return true;
            return KV_KeyVal::save_bool(st, k.name, v);
        }
        static bool load(O& o, const KV_String& value)
        {
            bool v = false;
            return KV_KeyVal::set_bool(value, v) && take<Set>(o, v);
        }
    };

    template <auto Get, auto Set> struct Text
    {
        static bool save(KV_Storage& st, const KV_OptKey<O>& k, const O& o, const O& ref,
                         KV_ErrHandler*)
        {
            const auto& v = get<Get>(o);
            if (k.def != nullptr ? arg<KV_String>(v) == k.def : v == get<Get>(ref))
                return true;
            return KV_KeyVal::save_var(st, k.name, arg<KV_String>(v));
        }
        static bool load(O& o, const KV_String& value) { return take<Set>(o, value); }
    };

    template <auto Get, auto Set> struct Real
    {
        static bool save(KV_Storage& st, const KV_OptKey<O>& k, const O& o, const O& ref,
                         KV_ErrHandler*)
        {
            const double v = get<Get>(o);
            double d = 0;
            if (k.def != nullptr ? kv_optread::real(KV_String(k.def), d) && v == d
                                 : v == get<Get>(ref))
                return true;
            return KV_KeyVal::save_real(st, k.name, v);
        }
        static bool load(O& o, const KV_String& value)
        {
            double v = 0;
            return !kv_optread::real(value, v) || take<Set>(o, v);
        }
    };

    template <auto Get, auto Set> struct Pass
    {
        static bool save(KV_Storage& st, const KV_OptKey<O>& k, const O& o, const O& ref,
                         KV_ErrHandler* eh)
        {
            KV_String text;
            KV_String ref_text;
            if (eh == nullptr || !KV_LoginData::scramble(get<Get>(o), *eh, text) ||
                !KV_LoginData::scramble(get<Get>(ref), *eh, ref_text))
                return false;
            return text == ref_text || KV_KeyVal::save_var(st, k.name, text);
        }
        static bool load(O& o, const KV_String& value)
        {
            KV_String pass;
            return KV_LoginData::unscramble(value, pass) && take<Set>(o, pass);
        }
    };
};
