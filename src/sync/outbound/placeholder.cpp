namespace sync_placeholder {}
