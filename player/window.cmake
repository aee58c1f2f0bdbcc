# The main window, song loading and the transport's play commands, added to tonelark_player.
find_package(Qt6 6.2 REQUIRED COMPONENTS Svg)
target_sources(tonelark_player PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/ABRepeat.cpp ${CMAKE_CURRENT_LIST_DIR}/ABRepeat.h
  ${CMAKE_CURRENT_LIST_DIR}/AudioExport.cpp ${CMAKE_CURRENT_LIST_DIR}/AudioExport.h
  ${CMAKE_CURRENT_LIST_DIR}/CopyFormats.cpp ${CMAKE_CURRENT_LIST_DIR}/CopyFormats.h
  ${CMAKE_CURRENT_LIST_DIR}/EncodingChoices.cpp ${CMAKE_CURRENT_LIST_DIR}/EncodingChoices.h
  ${CMAKE_CURRENT_LIST_DIR}/EngineNotices.cpp ${CMAKE_CURRENT_LIST_DIR}/EngineNotices.h
  ${CMAKE_CURRENT_LIST_DIR}/FontSetup.cpp ${CMAKE_CURRENT_LIST_DIR}/FontSetup.h
  ${CMAKE_CURRENT_LIST_DIR}/InfoBox.cpp ${CMAKE_CURRENT_LIST_DIR}/InfoBox.h
  ${CMAKE_CURRENT_LIST_DIR}/KeyTempo.cpp ${CMAKE_CURRENT_LIST_DIR}/KeyTempo.h
  ${CMAKE_CURRENT_LIST_DIR}/LyricsModel.cpp ${CMAKE_CURRENT_LIST_DIR}/LyricsModel.h
  ${CMAKE_CURRENT_LIST_DIR}/LyricsView.cpp ${CMAKE_CURRENT_LIST_DIR}/LyricsView.h
  ${CMAKE_CURRENT_LIST_DIR}/LyricsViewExport.cpp ${CMAKE_CURRENT_LIST_DIR}/LyricsViewExport.h
  ${CMAKE_CURRENT_LIST_DIR}/EngineMixerOutput.h
  ${CMAKE_CURRENT_LIST_DIR}/MixerControls.cpp ${CMAKE_CURRENT_LIST_DIR}/MixerControls.h
  ${CMAKE_CURRENT_LIST_DIR}/ModalLoop.h ${CMAKE_CURRENT_LIST_DIR}/AnsweringWait.h
  ${CMAKE_CURRENT_LIST_DIR}/PrefApply.cpp ${CMAKE_CURRENT_LIST_DIR}/PrefApply.h
  ${CMAKE_CURRENT_LIST_DIR}/SongGate.cpp ${CMAKE_CURRENT_LIST_DIR}/SongGate.h
  ${CMAKE_CURRENT_LIST_DIR}/QueuePage.cpp ${CMAKE_CURRENT_LIST_DIR}/QueuePage.h
  ${CMAKE_CURRENT_LIST_DIR}/QueuePlayer.cpp ${CMAKE_CURRENT_LIST_DIR}/QueuePlayer.h
  ${CMAKE_CURRENT_LIST_DIR}/SongLoader.cpp ${CMAKE_CURRENT_LIST_DIR}/SongLoader.h
  ${CMAKE_CURRENT_LIST_DIR}/Transport.cpp ${CMAKE_CURRENT_LIST_DIR}/Transport.h
  ${CMAKE_CURRENT_LIST_DIR}/Ui.cpp ${CMAKE_CURRENT_LIST_DIR}/Ui.h
  ${CMAKE_CURRENT_LIST_DIR}/uMain.cpp ${CMAKE_CURRENT_LIST_DIR}/uMain.h
  ${CMAKE_CURRENT_LIST_DIR}/WindowBehaviour.cpp ${CMAKE_CURRENT_LIST_DIR}/WindowBehaviour.h
  ${CMAKE_CURRENT_LIST_DIR}/WindowPlacement.cpp ${CMAKE_CURRENT_LIST_DIR}/WindowPlacement.h
  ${CMAKE_CURRENT_LIST_DIR}/icons.qrc)
set_target_properties(tonelark_player PROPERTIES AUTORCC ON)
# The tool bar images are SVG: the icon engine plugin comes with Qt Svg.
target_link_libraries(tonelark_player PUBLIC Qt6::Svg tonelark_controls tonelark_settings tonelark_desktop
                                             tonelark_export_job tonelark_mixer_window tonelark_queue tonelark_stage)
