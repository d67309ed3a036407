// Pins the binary layout of our C declarations on this 64-bit platform: a host built against
// the standard passes these records and tables, so every offset must match the standard's.
#include <cstddef>

#include <gtest/gtest.h>

#include "openfx/openfx.h"

namespace {

constexpr size_t kPointer = sizeof(void*);

// Offset of the n-th function pointer of a suite table.
constexpr size_t slot(size_t n) {
    return n * kPointer;
}

TEST(OpenfxLayout, GeometryRecords) {
    EXPECT_EQ(sizeof(OfxRectI), 16u);
    EXPECT_EQ(offsetof(OfxRectI, x1), 0u);
    EXPECT_EQ(offsetof(OfxRectI, y1), 4u);
    EXPECT_EQ(offsetof(OfxRectI, x2), 8u);
    EXPECT_EQ(offsetof(OfxRectI, y2), 12u);
    EXPECT_EQ(sizeof(OfxRectD), 32u);
    EXPECT_EQ(offsetof(OfxRectD, y1), 8u);
    EXPECT_EQ(offsetof(OfxRectD, x2), 16u);
    EXPECT_EQ(offsetof(OfxRectD, y2), 24u);
    EXPECT_EQ(sizeof(OfxPointD), 16u);
    EXPECT_EQ(offsetof(OfxPointD, y), 8u);
    EXPECT_EQ(sizeof(OfxPointI), 8u);
    EXPECT_EQ(offsetof(OfxPointI, y), 4u);
    EXPECT_EQ(sizeof(OfxRangeD), 16u);
    EXPECT_EQ(offsetof(OfxRangeD, max), 8u);
    EXPECT_EQ(sizeof(OfxRangeI), 8u);
    EXPECT_EQ(offsetof(OfxRangeI, max), 4u);
    EXPECT_EQ(sizeof(OfxStatus), sizeof(int));
    EXPECT_EQ(sizeof(OfxTime), sizeof(double));
}

TEST(OpenfxLayout, HostAndPluginRecords) {
    EXPECT_EQ(sizeof(OfxHost), 2 * kPointer);
    EXPECT_EQ(offsetof(OfxHost, host), 0u);
    EXPECT_EQ(offsetof(OfxHost, fetchSuite), kPointer);

    EXPECT_EQ(offsetof(OfxPlugin, pluginApi), 0u);
    EXPECT_EQ(offsetof(OfxPlugin, apiVersion), 8u);
    EXPECT_EQ(offsetof(OfxPlugin, pluginIdentifier), 16u);
    EXPECT_EQ(offsetof(OfxPlugin, pluginVersionMajor), 24u);
    EXPECT_EQ(offsetof(OfxPlugin, pluginVersionMinor), 28u);
    EXPECT_EQ(offsetof(OfxPlugin, setHost), 32u);
    EXPECT_EQ(offsetof(OfxPlugin, mainEntry), 40u);
    EXPECT_EQ(sizeof(OfxPlugin), 48u);
}

TEST(OpenfxLayout, PropertySuite) {
    EXPECT_EQ(sizeof(OfxPropertySuiteV1), slot(18));
    EXPECT_EQ(offsetof(OfxPropertySuiteV1, propSetPointer), slot(0));
    EXPECT_EQ(offsetof(OfxPropertySuiteV1, propSetString), slot(1));
    EXPECT_EQ(offsetof(OfxPropertySuiteV1, propSetDouble), slot(2));
    EXPECT_EQ(offsetof(OfxPropertySuiteV1, propSetInt), slot(3));
    EXPECT_EQ(offsetof(OfxPropertySuiteV1, propSetPointerN), slot(4));
    EXPECT_EQ(offsetof(OfxPropertySuiteV1, propSetIntN), slot(7));
    EXPECT_EQ(offsetof(OfxPropertySuiteV1, propGetPointer), slot(8));
    EXPECT_EQ(offsetof(OfxPropertySuiteV1, propGetString), slot(9));
    EXPECT_EQ(offsetof(OfxPropertySuiteV1, propGetDouble), slot(10));
    EXPECT_EQ(offsetof(OfxPropertySuiteV1, propGetInt), slot(11));
    EXPECT_EQ(offsetof(OfxPropertySuiteV1, propGetPointerN), slot(12));
    EXPECT_EQ(offsetof(OfxPropertySuiteV1, propGetIntN), slot(15));
    EXPECT_EQ(offsetof(OfxPropertySuiteV1, propReset), slot(16));
    EXPECT_EQ(offsetof(OfxPropertySuiteV1, propGetDimension), slot(17));
}

TEST(OpenfxLayout, ParameterSuite) {
    EXPECT_EQ(sizeof(OfxParameterSuiteV1), slot(18));
    EXPECT_EQ(offsetof(OfxParameterSuiteV1, paramDefine), slot(0));
    EXPECT_EQ(offsetof(OfxParameterSuiteV1, paramGetHandle), slot(1));
    EXPECT_EQ(offsetof(OfxParameterSuiteV1, paramSetGetPropertySet), slot(2));
    EXPECT_EQ(offsetof(OfxParameterSuiteV1, paramGetPropertySet), slot(3));
    EXPECT_EQ(offsetof(OfxParameterSuiteV1, paramGetValue), slot(4));
    EXPECT_EQ(offsetof(OfxParameterSuiteV1, paramGetValueAtTime), slot(5));
    EXPECT_EQ(offsetof(OfxParameterSuiteV1, paramGetDerivative), slot(6));
    EXPECT_EQ(offsetof(OfxParameterSuiteV1, paramGetIntegral), slot(7));
    EXPECT_EQ(offsetof(OfxParameterSuiteV1, paramSetValue), slot(8));
    EXPECT_EQ(offsetof(OfxParameterSuiteV1, paramSetValueAtTime), slot(9));
    EXPECT_EQ(offsetof(OfxParameterSuiteV1, paramGetNumKeys), slot(10));
    EXPECT_EQ(offsetof(OfxParameterSuiteV1, paramGetKeyTime), slot(11));
    EXPECT_EQ(offsetof(OfxParameterSuiteV1, paramGetKeyIndex), slot(12));
    EXPECT_EQ(offsetof(OfxParameterSuiteV1, paramDeleteKey), slot(13));
    EXPECT_EQ(offsetof(OfxParameterSuiteV1, paramDeleteAllKeys), slot(14));
    EXPECT_EQ(offsetof(OfxParameterSuiteV1, paramCopy), slot(15));
    EXPECT_EQ(offsetof(OfxParameterSuiteV1, paramEditBegin), slot(16));
    EXPECT_EQ(offsetof(OfxParameterSuiteV1, paramEditEnd), slot(17));
}

TEST(OpenfxLayout, ImageEffectSuite) {
    EXPECT_EQ(sizeof(OfxImageEffectSuiteV1), slot(13));
    EXPECT_EQ(offsetof(OfxImageEffectSuiteV1, getPropertySet), slot(0));
    EXPECT_EQ(offsetof(OfxImageEffectSuiteV1, getParamSet), slot(1));
    EXPECT_EQ(offsetof(OfxImageEffectSuiteV1, clipDefine), slot(2));
    EXPECT_EQ(offsetof(OfxImageEffectSuiteV1, clipGetHandle), slot(3));
    EXPECT_EQ(offsetof(OfxImageEffectSuiteV1, clipGetPropertySet), slot(4));
    EXPECT_EQ(offsetof(OfxImageEffectSuiteV1, clipGetImage), slot(5));
    EXPECT_EQ(offsetof(OfxImageEffectSuiteV1, clipReleaseImage), slot(6));
    EXPECT_EQ(offsetof(OfxImageEffectSuiteV1, clipGetRegionOfDefinition), slot(7));
    EXPECT_EQ(offsetof(OfxImageEffectSuiteV1, abort), slot(8));
    EXPECT_EQ(offsetof(OfxImageEffectSuiteV1, imageMemoryAlloc), slot(9));
    EXPECT_EQ(offsetof(OfxImageEffectSuiteV1, imageMemoryFree), slot(10));
    EXPECT_EQ(offsetof(OfxImageEffectSuiteV1, imageMemoryLock), slot(11));
    EXPECT_EQ(offsetof(OfxImageEffectSuiteV1, imageMemoryUnlock), slot(12));
}

TEST(OpenfxLayout, ThreadMemoryAndMessageSuites) {
    EXPECT_EQ(sizeof(OfxMultiThreadSuiteV1), slot(9));
    EXPECT_EQ(offsetof(OfxMultiThreadSuiteV1, multiThread), slot(0));
    EXPECT_EQ(offsetof(OfxMultiThreadSuiteV1, multiThreadNumCPUs), slot(1));
    EXPECT_EQ(offsetof(OfxMultiThreadSuiteV1, multiThreadIndex), slot(2));
    EXPECT_EQ(offsetof(OfxMultiThreadSuiteV1, multiThreadIsSpawnedThread), slot(3));
    EXPECT_EQ(offsetof(OfxMultiThreadSuiteV1, mutexCreate), slot(4));
    EXPECT_EQ(offsetof(OfxMultiThreadSuiteV1, mutexDestroy), slot(5));
    EXPECT_EQ(offsetof(OfxMultiThreadSuiteV1, mutexLock), slot(6));
    EXPECT_EQ(offsetof(OfxMultiThreadSuiteV1, mutexUnLock), slot(7));
    EXPECT_EQ(offsetof(OfxMultiThreadSuiteV1, mutexTryLock), slot(8));

    EXPECT_EQ(sizeof(OfxMemorySuiteV1), slot(2));
    EXPECT_EQ(offsetof(OfxMemorySuiteV1, memoryFree), slot(1));

    EXPECT_EQ(sizeof(OfxMessageSuiteV1), slot(1));
    EXPECT_EQ(sizeof(OfxMessageSuiteV2), slot(3));
    EXPECT_EQ(offsetof(OfxMessageSuiteV2, setPersistentMessage), slot(1));
    EXPECT_EQ(offsetof(OfxMessageSuiteV2, clearPersistentMessage), slot(2));
}

}  // namespace
