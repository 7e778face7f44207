// The file tables are fixed-width names ended by an empty entry; their
// length is found, not stored, so a row added or removed needs no count.
#include "engine.h"

int CountFileTable(const char (*table)[FILE_NAME_WIDTH])
{
    int count = 0;
    while (lstrcmpA(table[count], "") != 0)
        count++;
    return count;
}
