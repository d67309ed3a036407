/* Built as C to prove the declarations stay plain C. */
#include "openfx/ofxStatusNames.h"
#include "openfx/openfx.h"

int zarvelOpenfxCompilesAsC(void) {
    OfxRectI rect = {0, 0, 1, 1};
    OfxHost host = {0, 0};
    (void)host;
    return (int)sizeof(OfxPlugin) + rect.x2 + (ofxStatusName(kOfxStatOK) != NULL);
}
