#include "core/appimages.h"

#include "datasources/kv_dstree.h"
#include "datasources/kv_dstreenode.h"
#include "datasources/kv_dstreenodegrp.h"
#include "requests/kv_fileman.h"

int GetManTypeImage(uint32_t type)
{
    switch (type) {
    case KV_FILE_MAN_TYPE_STD:
        return KV_IMG_COMPUTER;
    case KV_FILE_MAN_TYPE_FTP:
        return KV_IMG_FTP_VAR;
    case KV_FILE_MAN_TYPE_HTTP:
        return KV_IMG_HTTP_VAR;
    case KV_FILE_MAN_TYPE_SFTP:
        return KV_IMG_SFTP_VAR;
    default:
        return -1;
    }
}

int GetStateImage(int state, bool variant)
{
    switch (state) {
    case 1:
        return variant ? KV_IMG_STATE1 : KV_IMG_STATE2;
    case 2:
        return KV_IMG_STATE2;
    default:
        return KV_IMG_STATE0;
    }
}

bool GetNodeImages(const KV_DsTree& tree, const KV_DsTreeNode* node, int& image, int& selected,
                   bool variant)
{
    image = -1;
    selected = -1;
    if (!node) {
        image = KV_IMG_FOLDER;
        selected = KV_IMG_FOLDER_OPEN;
        return true;
    }
    switch (node->type()) {
    case KV_DS_NODE_STD:
        image = KV_IMG_COMPUTER;
        break;
    case KV_DS_NODE_FTP:
        image = variant ? KV_IMG_FTP_VAR : KV_IMG_FTP;
        break;
    case KV_DS_NODE_SFTP:
        image = variant ? KV_IMG_SFTP_VAR : KV_IMG_SFTP;
        break;
    case KV_DS_NODE_HTTP:
        image = variant ? KV_IMG_HTTP_VAR : KV_IMG_HTTP;
        break;
    case KV_DS_NODE_MAN_INST:
        image = KV_IMG_MAN_INST;
        break;
    case KV_DS_NODE_GRP: {
        int grp_image = -1;
        if (!tree.parent_grp(node, false)) {
            switch (static_cast<const KV_DsTreeNodeGrp*>(node)->type_grp()) {
            case KV_DS_NODE_FTP:
                grp_image = KV_IMG_FTP_VAR;
                break;
            case KV_DS_NODE_SFTP:
                grp_image = KV_IMG_SFTP_VAR;
                break;
            case KV_DS_NODE_HTTP:
                grp_image = KV_IMG_HTTP_VAR;
                break;
            case KV_DS_NODE_GRP_DS:
                grp_image = KV_IMG_ALL;
                break;
            default:
                break;
            }
        }
        if (grp_image < 0) {
            image = KV_IMG_FOLDER;
            selected = KV_IMG_FOLDER_OPEN;
            return true;
        }
        image = grp_image;
        break;
    }
    default:
        break;
    }
    selected = image;
    return image != -1;
}

QString FormatVersion(uint64_t version)
{
    uint16_t n[4];
    for (int i = 0; i < 4; ++i) {
        n[i] = static_cast<uint16_t>(version >> (48 - 16 * i));
    }
    QString text = QString::number(n[0]) + QLatin1Char('.') + QString::number(n[1]);
    if (n[2] != 0 || n[3] != 0) {
        if (n[3] >= 1 && n[3] <= 26) {
            text += QLatin1Char('.') + QString::number(n[2]) + QChar(u'a' + n[3] - 1);
        } else {
            text += QLatin1Char('.') + QString::number(n[2]);
            if (n[3] != 0) {
                text += QLatin1Char('.') + QString::number(n[3]);
            }
        }
    }
    return text;
}
