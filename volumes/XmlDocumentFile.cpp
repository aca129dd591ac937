// The file half of XmlDocument: the only part that touches the platform.
#include "volumes/PlatformFile.h"
#include "volumes/XmlDocument.h"

bool XmlDocument::Save(const std::string& path) const
{
    try {
        PlatformFile file(path, PlatformFile::Mode::Create);
        file.Write(m_strText.data(), m_strText.size());
        // Success means the text is on the disk: the caller may now let go of
        // the previous generation.
        file.Flush();
        file.Close();
        return true;
    } catch (const PlatformFileError& error) {
        // The file is closed by now: the caller gets the step's own reason.
        ::SetLastError(error.GetError());
        return false;
    }
}

bool XmlDocument::Load(const std::string& path)
{
    try {
        PlatformFile file(path, PlatformFile::Mode::Read);
        const unsigned long long length = file.GetLength();
        if (length > kMaxLoadBytes)
            return false;
        std::string text(static_cast<std::size_t>(length), '\0');
        file.Read(text.data(), text.size());
        file.Close();
        m_strText.swap(text);
        return true;
    } catch (const PlatformFileError&) {
        return false;
    }
}
