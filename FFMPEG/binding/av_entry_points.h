/* Every library function the engine calls, one list per library, in resolution order.
 * Plain C and no includes: av_binding.h turns each name into a typed table slot, and the
 * test fakes turn the same lists into stub exports. Each library's version function is
 * resolved first and named separately, because the binding checks it before anything else. */
#pragma once

#define CW_AVCODEC_VERSION_FN avcodec_version
#define CW_AVCODEC_ENTRY_POINTS(X)                                                                 \
    X(avcodec_alloc_context3)                                                                      \
    X(avcodec_free_context)                                                                        \
    X(avcodec_get_class)                                                                           \
    X(avcodec_parameters_alloc)                                                                    \
    X(avcodec_parameters_free)                                                                     \
    X(avcodec_parameters_copy)                                                                     \
    X(avcodec_parameters_to_context)                                                               \
    X(avcodec_parameters_from_context)                                                             \
    X(avcodec_find_encoder)                                                                        \
    X(avcodec_find_decoder)                                                                        \
    X(avcodec_find_encoder_by_name)                                                                \
    X(avcodec_find_decoder_by_name)                                                                \
    X(avcodec_get_name)                                                                            \
    X(avcodec_get_type)                                                                            \
    X(avcodec_descriptor_get)                                                                      \
    X(av_codec_iterate)                                                                            \
    X(av_codec_is_encoder)                                                                         \
    X(av_codec_is_decoder)                                                                         \
    X(avcodec_open2)                                                                               \
    X(avcodec_send_packet)                                                                         \
    X(avcodec_receive_frame)                                                                       \
    X(avcodec_send_frame)                                                                          \
    X(avcodec_receive_packet)                                                                      \
    X(avcodec_decode_subtitle2)                                                                    \
    X(avcodec_encode_subtitle)                                                                     \
    X(avsubtitle_free)                                                                             \
    X(avcodec_flush_buffers)                                                                       \
    X(avcodec_string)                                                                              \
    X(av_packet_alloc)                                                                             \
    X(av_packet_free)                                                                              \
    X(av_packet_ref)                                                                               \
    X(av_packet_unref)                                                                             \
    X(av_new_packet)                                                                               \
    X(av_packet_rescale_ts)                                                                        \
    X(av_packet_get_side_data)                                                                     \
    X(av_get_audio_frame_duration2)                                                                \
    X(av_parser_init)                                                                              \
    X(av_parser_parse2)                                                                            \
    X(av_parser_close)

#define CW_AVFORMAT_VERSION_FN avformat_version
#define CW_AVFORMAT_ENTRY_POINTS(X)                                                                \
    X(avformat_alloc_context)                                                                      \
    X(avformat_free_context)                                                                       \
    X(avformat_get_class)                                                                          \
    X(av_find_input_format)                                                                        \
    X(avformat_open_input)                                                                         \
    X(avformat_close_input)                                                                        \
    X(avformat_find_stream_info)                                                                   \
    X(av_read_frame)                                                                               \
    X(av_seek_frame)                                                                               \
    X(avformat_seek_file)                                                                          \
    X(av_dump_format)                                                                              \
    X(av_guess_format)                                                                             \
    X(av_muxer_iterate)                                                                            \
    X(av_guess_codec)                                                                              \
    X(avformat_alloc_output_context2)                                                              \
    X(avformat_new_stream)                                                                         \
    X(av_stream_get_side_data)                                                                     \
    X(av_stream_new_side_data)                                                                     \
    X(avformat_query_codec)                                                                        \
    X(av_filename_number_test)                                                                     \
    X(av_codec_get_id)                                                                             \
    X(av_codec_get_tag)                                                                            \
    X(avio_open2)                                                                                  \
    X(avio_closep)                                                                                 \
    X(avio_seek)                                                                                   \
    X(avio_size)                                                                                   \
    X(avformat_write_header)                                                                       \
    X(av_interleaved_write_frame)                                                                  \
    X(av_write_trailer)                                                                            \
    X(av_sdp_create)                                                                               \
    X(av_pkt_dump_log2)                                                                            \
    X(av_guess_frame_rate)

#define CW_AVUTIL_VERSION_FN avutil_version
#define CW_AVUTIL_ENTRY_POINTS(X)                                                                  \
    X(av_log)                                                                                      \
    X(av_vlog)                                                                                     \
    X(av_log_set_callback)                                                                         \
    X(av_log_default_callback)                                                                     \
    X(av_log_get_level)                                                                            \
    X(av_log_set_level)                                                                            \
    X(av_default_item_name)                                                                        \
    X(av_strerror)                                                                                 \
    X(av_malloc)                                                                                   \
    X(av_mallocz)                                                                                  \
    X(av_realloc_array)                                                                            \
    X(av_free)                                                                                     \
    X(av_freep)                                                                                    \
    X(av_strdup)                                                                                   \
    X(av_dict_get)                                                                                 \
    X(av_dict_set)                                                                                 \
    X(av_dict_set_int)                                                                             \
    X(av_dict_copy)                                                                                \
    X(av_dict_count)                                                                               \
    X(av_dict_free)                                                                                \
    X(av_opt_find)                                                                                 \
    X(av_opt_next)                                                                                 \
    X(av_opt_set)                                                                                  \
    X(av_opt_set_int)                                                                              \
    X(av_opt_get)                                                                                  \
    X(av_opt_get_int)                                                                              \
    X(av_rescale)                                                                                  \
    X(av_rescale_rnd)                                                                              \
    X(av_rescale_q)                                                                                \
    X(av_rescale_q_rnd)                                                                            \
    X(av_compare_ts)                                                                               \
    X(av_reduce)                                                                                   \
    X(av_gcd)                                                                                      \
    X(av_d2q)                                                                                      \
    X(av_gettime)                                                                                  \
    X(av_gettime_relative)                                                                         \
    X(av_parse_time)                                                                               \
    X(av_parse_video_size)                                                                         \
    X(av_parse_video_rate)                                                                         \
    X(av_get_pix_fmt)                                                                              \
    X(av_get_pix_fmt_name)                                                                         \
    X(av_get_pix_fmt_string)                                                                       \
    X(av_pix_fmt_desc_get)                                                                         \
    X(av_get_sample_fmt)                                                                           \
    X(av_get_sample_fmt_name)                                                                      \
    X(av_get_bytes_per_sample)                                                                     \
    X(av_get_media_type_string)                                                                    \
    X(av_get_picture_type_char)                                                                    \
    X(av_frame_alloc)                                                                              \
    X(av_frame_free)                                                                               \
    X(av_frame_unref)                                                                              \
    X(av_frame_get_buffer)                                                                         \
    X(av_frame_make_writable)                                                                      \
    X(av_frame_copy_props)                                                                         \
    X(av_frame_ref)                                                                                \
    X(av_image_get_buffer_size)                                                                    \
    X(av_image_fill_arrays)                                                                        \
    X(av_image_copy)                                                                               \
    X(av_image_copy_plane)                                                                         \
    X(av_fifo_alloc2)                                                                              \
    X(av_fifo_freep2)                                                                              \
    X(av_fifo_can_read)                                                                            \
    X(av_fifo_read)                                                                                \
    X(av_fifo_write)                                                                               \
    X(av_fifo_reset2)                                                                              \
    X(av_channel_layout_default)                                                                   \
    X(av_channel_layout_from_mask)                                                                 \
    X(av_channel_layout_copy)                                                                      \
    X(av_channel_layout_compare)                                                                   \
    X(av_channel_layout_uninit)                                                                    \
    X(av_channel_layout_describe)                                                                  \
    X(av_display_rotation_get)

#define CW_SWSCALE_VERSION_FN swscale_version
#define CW_SWSCALE_ENTRY_POINTS(X)                                                                 \
    X(sws_alloc_context)                                                                           \
    X(sws_get_class)                                                                               \
    X(sws_getContext)                                                                              \
    X(sws_getCachedContext)                                                                        \
    X(sws_scale)                                                                                   \
    X(sws_freeContext)

#define CW_SWRESAMPLE_VERSION_FN swresample_version
#define CW_SWRESAMPLE_ENTRY_POINTS(X)                                                              \
    X(swr_alloc_set_opts2)                                                                         \
    X(swr_init)                                                                                    \
    X(swr_convert)                                                                                 \
    X(swr_set_compensation)                                                                        \
    X(swr_get_delay)                                                                               \
    X(swr_free)

#define CW_AVFILTER_VERSION_FN avfilter_version
#define CW_AVFILTER_ENTRY_POINTS(X)                                                                \
    X(avfilter_get_by_name)                                                                        \
    X(avfilter_graph_alloc)                                                                        \
    X(avfilter_graph_free)                                                                         \
    X(avfilter_graph_create_filter)                                                                \
    X(avfilter_graph_parse_ptr)                                                                    \
    X(avfilter_graph_config)                                                                       \
    X(avfilter_inout_alloc)                                                                        \
    X(avfilter_inout_free)                                                                         \
    X(av_buffersrc_add_frame_flags)                                                                \
    X(av_buffersink_get_frame)                                                                     \
    X(av_buffersink_get_time_base)
