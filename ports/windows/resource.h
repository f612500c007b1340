// Numbers of the resources of OVLiveUpdate.exe that the code loads by number.
// The icon group "AAA" is loaded by name.
#pragma once

#define IDI_CLASSIC 1   // second icon group, 1-bit and 4-bit images
#define IDR_BANNER 201  // banner of Picture1, JPEG bytes
#define IDB_CHECK 202   // check mark of ImageList1, 16 x 16 bitmap on white
