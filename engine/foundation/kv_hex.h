// Hexadecimal digits, shared by the readers of scrambled passwords, stored
// byte streams and %-escapes.
#pragma once

// The value of one hexadecimal digit of either case, or -1 for any other
// character.
inline int kv_hex_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}
