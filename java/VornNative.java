/**
 * The native methods of the graphics tool: clipboard, opening a file with its
 * program, cabinets, GIF transparency, JPEG saving and WAV to AU conversion.
 * Each returns 1 when its work was done and 0 when it was not. The methods
 * run one at a time; a call from a second thread waits for the first.
 */
public class VornNative {
    static {
        try {
            System.loadLibrary("VornNative");
        } catch (UnsatisfiedLinkError e) {
            UnsatisfiedLinkError clear = new UnsatisfiedLinkError(
                "VornNative: cannot load the native library " + System.mapLibraryName("VornNative")
                + " (put its folder on java.library.path, now \""
                + System.getProperty("java.library.path") + "\"): " + e.getMessage());
            clear.initCause(e);
            throw clear;
        }
    }

    public static native int copyToClipboard(String text);

    public static native int showFile(String directory, String file);

    public static native int makeCab(String[] entries, String cabDirectory, String cabName);

    public static native int makeTransparent(String gifFile);

    public static native int saveJPEG(String jpegFile, int[] pixels, int width, int height);

    public static native int wav2au(String wavFile, String auFile);
}
