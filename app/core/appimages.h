#ifndef KIVREL_CORE_APPIMAGES_H
#define KIVREL_CORE_APPIMAGES_H

// Which image of the program's data-source image list stands for a node, a
// file-manager kind or a state, and the program's version as text. Plain
// functions: any thread, no application object needed.

#include <QString>
#include <cstdint>

class KV_DsTree;
class KV_DsTreeNode;

// Indexes into the data-source image list.
enum KV_IMG : int {
    KV_IMG_FOLDER = 0,      // closed folder
    KV_IMG_FOLDER_OPEN = 1, // open folder
    KV_IMG_COMPUTER = 2,    // the local computer
    KV_IMG_FTP = 3,         // FTP, HTTP, SFTP data source: one network image
    KV_IMG_HTTP = 4,
    KV_IMG_SFTP = 5,
    KV_IMG_FTP_VAR = 6, // the protocols' own images
    KV_IMG_HTTP_VAR = 7,
    KV_IMG_SFTP_VAR = 8,
    KV_IMG_ALL = 9,     // the root group
    KV_IMG_STATE0 = 10, // states 0, 1, 2
    KV_IMG_STATE1 = 11,
    KV_IMG_STATE2 = 12,
    KV_IMG_MAN_INST = 13, // a live file-manager instance
    KV_IMG_COUNT = 14,
};

// The image of a file-manager kind (KV_FILE_MAN_TYPE): the computer, or the
// protocol's own image; -1 for any other value.
int GetManTypeImage(uint32_t type);

// The image of a state: 0 the first, 1 the second (with `variant`) or the
// third, 2 the third; any other state the first.
int GetStateImage(int state, bool variant);

// The images of `node` in `tree` (image and selected image; both the closed
// and open folder for a null node and for a group inside another group).
// `variant` picks the protocols' own images over the network image.
// True when both were set; a node kind without image leaves both -1.
bool GetNodeImages(const KV_DsTree& tree, const KV_DsTreeNode* node, int& image, int& selected,
                   bool variant);

// A version of four 16-bit numbers, highest first: "2.1", "2.1.3", "2.1.3b"
// (a fourth number 1 to 26 is a letter after the third), "2.1.0.27".
QString FormatVersion(uint64_t version);

#endif
