# 32-bit Windows (PE32): the bitness of most dealer applications, which can
# load only a control of their own bitness.
set(KIV_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
