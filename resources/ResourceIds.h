// Identifiers of the library's resources: strings and the toolbar image strips.
#pragma once

#define IDS_PRODUCT_NAME 100
#define IDS_MAKER_NAME 101
#define IDS_ENABLE 102
#define IDS_DISABLE 103

#define IDS_SETTING_ENABLED 110
#define IDS_SETTING_BANNER_KILLER 111
#define IDS_SETTING_POPUP_KILLER 112
#define IDS_SETTING_HIGHLIGHT 113
#define IDS_SETTING_LINK_HINT 114

#define IDS_SERVER_PROGID 65256

// Toolbar image strips (images side by side, 32 bits with alpha; made from resources/icons/): the main
// toolbar's 19 images and the quick-link toolbar's 3, each normal and hot (under the mouse), drawn at
// 16, 20, 24 and 32 pixels. The strip of a larger size has the 16-pixel identifier plus
// IDB_SIZE_STEP for each size step (20: +20, 24: +40, 32: +60).
#define IDB_SIZE_STEP 20

#define IDB_MAIN_IMAGES 101
#define IDB_MAIN_HOT_IMAGES 102
#define IDB_QL_IMAGES 103
#define IDB_QL_HOT_IMAGES 104

#define IDB_MAIN_IMAGES_20 121
#define IDB_MAIN_HOT_IMAGES_20 122
#define IDB_QL_IMAGES_20 123
#define IDB_QL_HOT_IMAGES_20 124

#define IDB_MAIN_IMAGES_24 141
#define IDB_MAIN_HOT_IMAGES_24 142
#define IDB_QL_IMAGES_24 143
#define IDB_QL_HOT_IMAGES_24 144

#define IDB_MAIN_IMAGES_32 161
#define IDB_MAIN_HOT_IMAGES_32 162
#define IDB_QL_IMAGES_32 163
#define IDB_QL_HOT_IMAGES_32 164
