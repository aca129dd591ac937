"""Writers of recorder volumes and image store files, byte for byte as the
recorder leaves them, for tests, the demo, benchmarks and fuzz seeds."""

from .imagefile import FILE_SIZE, MIB, SMALL, START_TIME, TZ_INDEX, ImageFile, Layout, fresh_image_bytes
from .layouts import (HEADER_FORMAT, HEADER_SIZES, KEY_INDEX_SIZE, MasterRecord, VideoFrame, audio_header,
                      journal_entry, key_index_record, master_header, master_offset, text_header,
                      video_header)
from .volume import (DAMAGES, FIELDS, ZERO_GUID, allocated_kb_for, description, directory,
                     empty_master_record, guid_text, parse_damages, subvolume_description, write_image,
                     write_volume)
