#include "CZunRoutingWord.h"

void CZunRoutingWord::decode(quint16 w)
{
    word = w;
    rpNumber = w & 0x7F;
    rpGroup = (w >> 4) & 0x07;
    irNumber = (w >> 7) & 0xFF;
    irGroup = (w >> 11) & 0x07;
    topBit = (w >> 15) & 0x01;
}
