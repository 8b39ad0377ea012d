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

// Toolbar image strips (16 x 16 images side by side, 32 bits with alpha; made from resources/icons/):
// the main toolbar's 19 images and the quick-link toolbar's 3, each normal and hot (under the mouse).
#define IDB_MAIN_IMAGES 101
#define IDB_MAIN_HOT_IMAGES 102
#define IDB_QL_IMAGES 103
#define IDB_QL_HOT_IMAGES 104
