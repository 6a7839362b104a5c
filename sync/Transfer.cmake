# Chunk transfers and the upload and download paths, with their unit tests.
# Included from this folder's CMakeLists.txt after varnelo_sync and
# sync_tests exist.
target_sources(varnelo_sync PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/ArrivedContent.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ChunkKeys.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ChunkTasks.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CommitIntent.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ConflictNames.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Context.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DeletionBatch.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DeletionHold.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DeletionRestore.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Digest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Download.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DownloadCompletion.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FileDownload.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ListedContent.cpp
  ${CMAKE_CURRENT_LIST_DIR}/RemoteListing.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ListingAhead.cpp
  ${CMAKE_CURRENT_LIST_DIR}/RemotePass.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PlaceFile.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PlacementBatch.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PlacedFiles.cpp
  ${CMAKE_CURRENT_LIST_DIR}/RecentUploads.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DownloadSink.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DownloadWindow.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FolderJob.cpp
  ${CMAKE_CURRENT_LIST_DIR}/IoDownload.cpp
  ${CMAKE_CURRENT_LIST_DIR}/IoUpload.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SmallUploads.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PutBatchRequest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/JournalRows.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LocalListing.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LocalRemoval.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FolderPrefetch.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LocalScan.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MimeTypes.cpp
  ${CMAKE_CURRENT_LIST_DIR}/RemoteHoldFile.cpp
  ${CMAKE_CURRENT_LIST_DIR}/RemoteKeys.cpp
  ${CMAKE_CURRENT_LIST_DIR}/RemoteRemoval.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SyncPaths.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SyncRoot.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TempNames.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TransferCallback.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TwinBinding.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Upload.cpp
)
target_link_libraries(varnelo_sync PUBLIC OpenSSL::Crypto)

target_sources(sync_tests PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/tests/transfer_names_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tests/transfer_context_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tests/transfer_local_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tests/sync_root_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tests/remote_hold_file_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tests/deletion_hold_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tests/download_window_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tests/place_file_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tests/placement_batch_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tests/folder_prefetch_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tests/listed_content_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tests/listing_ahead_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tests/placed_files_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tests/recent_uploads_test.cpp
)
