// What the data-source tree asks of the engine root. The tree sits below the
// root: it declares what it needs here and the root implements it, so that
// the tree neither includes the root nor knows the file managers' classes.
//
// Threads: the tree's thread (the user-interface thread), like the tree.
#pragma once

class KV_DsId;
class KV_DsTreeNode;
class KV_FileManId;

class KV_DsRoot
{
public:
    // Makes every live manager with that id re-read its data source's
    // settings.
    virtual bool upd_fman(const KV_FileManId& id) = 0;
    // Hands the settings of `node` to the live managers of the instance nodes
    // below it.
    virtual bool upd_fman_param(KV_DsTreeNode* node) = 0;
    // Whether some live manager belongs to the data source `id`.
    virtual bool contains(const KV_DsId& id) const = 0;
    // Whether the manager `id` (data source and instance number) lives.
    virtual bool man_lives(const KV_FileManId& id) const = 0;
    // Holds the live manager `id` for a reader of the tree (a lock that is
    // not a request's), or lets it go again; nothing when none lives.
    virtual void hold_man(const KV_FileManId& id, bool hold) = 0;
    // Deletes the live managers that nothing holds any more.
    virtual bool delete_zombies() = 0;

protected:
    KV_DsRoot() = default;
    KV_DsRoot(const KV_DsRoot&) = default;
    KV_DsRoot& operator=(const KV_DsRoot&) = default;
    ~KV_DsRoot() = default;
};
