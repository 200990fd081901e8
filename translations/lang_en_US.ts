<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US" sourcelanguage="zh_CN">
<context>
    <name>AboutDialog</name>
    <message>
        <source>关于Quillon</source>
        <translation>About Quillon</translation>
    </message>
    <message>
        <source>&lt;h2&gt;Quillon&lt;/h2&gt;</source>
        <translation>&lt;h2&gt;Quillon&lt;/h2&gt;</translation>
    </message>
    <message>
        <source>版本: 1.0.7.01</source>
        <translation>Version: 1.0.7.01</translation>
    </message>
    <message>
        <source>一款简单易用的单文件程序制作工具，提供向导式操作界面，支持多种压缩方式，可自定义输出目录，轻松制作高效单文件程序。</source>
        <translation>A simple and easy-to-use single-file application creation tool, featuring a wizard-style interface, supporting multiple compression methods, customizable output directory, and effortlessly creating efficient single-file applications.</translation>
    </message>
    <message>
        <source>&lt;a href=&quot;https://morvane.example&quot;&gt;https://morvane.example&lt;/a&gt;</source>
        <translation>&lt;a href=&quot;https://morvane.example&quot;&gt;https://morvane.example&lt;/a&gt;</translation>
    </message>
    <message>
        <source>版本: %1</source>
        <translation>Version: %1</translation>
    </message>
    <message>
        <source>访问官方网站 %1</source>
        <translation>Visit official website %1</translation>
    </message>
    <message>
        <source>© 2026 Morvane. All rights reserved.</source>
        <translation>© 2026 Morvane. All rights reserved.</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>Quillon</source>
        <translation>Quillon</translation>
    </message>
    <message>
        <source>基础</source>
        <translation>Basic</translation>
    </message>
    <message>
        <source>配置</source>
        <translation>Setting</translation>
    </message>
    <message>
        <source>源文件夹</source>
        <translation>Source Folder</translation>
    </message>
    <message>
        <source>主程序</source>
        <translation>Main Program</translation>
    </message>
    <message>
        <source>输出位置</source>
        <translation>Output Location</translation>
    </message>
    <message>
        <source>选择</source>
        <translation>Browse</translation>
    </message>
    <message>
        <source>开始制作</source>
        <translation>Start Making</translation>
    </message>
    <message>
        <source>压缩方法</source>
        <translation>Compression Method</translation>
    </message>
    <message>
        <source>LZMA</source>
        <translation>LZMA</translation>
    </message>
    <message>
        <source>LZMA2</source>
        <translation>LZMA2</translation>
    </message>
    <message>
        <source>压缩级别</source>
        <translation>Compression Level</translation>
    </message>
    <message>
        <source>64 KB</source>
        <translation>64 KB</translation>
    </message>
    <message>
        <source>1 MB</source>
        <translation>1 MB</translation>
    </message>
    <message>
        <source>16 MB</source>
        <translation>16 MB</translation>
    </message>
    <message>
        <source>32 MB</source>
        <translation>32 MB</translation>
    </message>
    <message>
        <source>64 MB</source>
        <translation>64 MB</translation>
    </message>
    <message>
        <source>存储</source>
        <translation>Store</translation>
    </message>
    <message>
        <source>最快</source>
        <translation>Fastest</translation>
    </message>
    <message>
        <source>快速</source>
        <translation>Fast</translation>
    </message>
    <message>
        <source>标准</source>
        <translation>Normal</translation>
    </message>
    <message>
        <source>最大</source>
        <translation>Maximum</translation>
    </message>
    <message>
        <source>极限</source>
        <translation>Ultra</translation>
    </message>
    <message>
        <source>字典大小</source>
        <translation>Dictionary Size</translation>
    </message>
    <message>
        <source>程序图标</source>
        <translation>Program Icon</translation>
    </message>
    <message>
        <source>解压到临时目录</source>
        <translation>Extract to Temporary Directory</translation>
    </message>
    <message>
        <source>加密文件内容</source>
        <translation>Encrypt File Contents</translation>
    </message>
    <message>
        <source>以管理员权限运行</source>
        <translation>Run as Administrator</translation>
    </message>
    <message>
        <source>完成后清理临时文件</source>
        <translation>Clean Temporary Files After Completion</translation>
    </message>
    <message>
        <source>一键重置</source>
        <translation>Reset</translation>
    </message>
    <message>
        <source>正在处理</source>
        <translation>Processing</translation>
    </message>
    <message>
        <source>正在生成便携程序，请等待处理完成后再退出。</source>
        <translation>A portable application is being generated. Please wait until it finishes before exiting.</translation>
    </message>
    <message>
        <source>确认退出</source>
        <translation>Confirm Exit</translation>
    </message>
    <message>
        <source>确定要退出 Quillon 吗？</source>
        <translation>Are you sure you want to exit Quillon?</translation>
    </message>
    <message>
        <source>选择源文件夹</source>
        <translation>Select Source Folder</translation>
    </message>
    <message>
        <source>警告</source>
        <translation>Warning</translation>
    </message>
    <message>
        <source>请先选择源文件夹！</source>
        <translation>Please select a source folder first!</translation>
    </message>
    <message>
        <source>选择主程序</source>
        <translation>Select Main Program</translation>
    </message>
    <message>
        <source>可执行文件 (*.exe)</source>
        <translation>Executable Files (*.exe)</translation>
    </message>
    <message>
        <source>选择的主程序必须在源文件夹内！</source>
        <translation>The selected main program must be within the source folder!</translation>
    </message>
    <message>
        <source>选择输出目录</source>
        <translation>Select Output Directory</translation>
    </message>
    <message>
        <source>选择图标文件</source>
        <translation>Select Icon File</translation>
    </message>
    <message>
        <source>图标文件 (*.ico)</source>
        <translation>Icon Files (*.ico)</translation>
    </message>
    <message>
        <source>错误</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>无法加载图标文件！</source>
        <translation>Failed to load icon file!</translation>
    </message>
    <message>
        <source>请选择源文件夹！</source>
        <translation>Please select a source folder!</translation>
    </message>
    <message>
        <source>源文件夹不存在或不可访问！</source>
        <translation>The source folder does not exist or is not accessible!</translation>
    </message>
    <message>
        <source>请选择主程序！</source>
        <translation>Please select a main program!</translation>
    </message>
    <message>
        <source>选择的主程序不存在于源文件夹中！
请重新选择主程序。</source>
        <translation>The selected main program does not exist in the source folder!
Please reselect the main program.</translation>
    </message>
    <message>
        <source>请选择输出目录！</source>
        <translation>Please select an output directory!</translation>
    </message>
    <message>
        <source>输出路径已存在但不是目录（例如 C:/Output）！</source>
        <translation>The output path exists but is not a directory (e.g. C:/Output)!</translation>
    </message>
    <message>
        <source>创建目录</source>
        <translation>Create Directory</translation>
    </message>
    <message>
        <source>输出目录 %1 不存在，是否创建？</source>
        <translation>Output directory %1 does not exist. Create it?</translation>
    </message>
    <message>
        <source>无法创建输出目录：%1</source>
        <translation>Cannot create output directory: %1</translation>
    </message>
    <message>
        <source>输入验证失败，操作中止</source>
        <translation>Input validation failed, operation aborted</translation>
    </message>
    <message>
        <source>主程序不存在：%1</source>
        <translation>Main program does not exist: %1</translation>
    </message>
    <message>
        <source>输出目录与源主程序位置相同，生成的文件会覆盖原始主程序。
请选择其他输出目录。</source>
        <translation>The output directory is the same as the source main program, the generated file would overwrite the original program.
Please choose another output directory.</translation>
    </message>
    <message>
        <source>调试信息:</source>
        <translation>Debug Information:</translation>
    </message>
    <message>
        <source>源文件夹: %1</source>
        <translation>Source Folder: %1</translation>
    </message>
    <message>
        <source>主程序: %1</source>
        <translation>Main Program: %1</translation>
    </message>
    <message>
        <source>输出目录: %1</source>
        <translation>Output Directory: %1</translation>
    </message>
    <message>
        <source>图标路径: %1</source>
        <translation>Icon Path: %1</translation>
    </message>
    <message>
        <source>完成</source>
        <translation>Success</translation>
    </message>
    <message>
        <source>便携应用创建成功！</source>
        <translation>Portable application created successfully!</translation>
    </message>
    <message>
        <source>创建失败</source>
        <translation>Creation Failed</translation>
    </message>
    <message>
        <source>便携应用创建失败，请查看日志了解详情。</source>
        <translation>Failed to create the portable application. Please check the log for details.</translation>
    </message>
    <message>
        <source>重置确认</source>
        <translation>Reset Confirmation</translation>
    </message>
    <message>
        <source>重置成功</source>
        <translation>Reset Successful</translation>
    </message>
    <message>
        <source>简体中文</source>
        <translation>简体中文</translation>
    </message>
    <message>
        <source>繁體中文</source>
        <translation>繁體中文</translation>
    </message>
    <message>
        <source>English</source>
        <translation>English</translation>
    </message>
    <message>
        <source>关于Quillon</source>
        <translation>About Quillon</translation>
    </message>
    <message>
        <source>确定要重置所有设置吗？
此操作无法撤销。</source>
        <translation>Are you sure you want to reset all settings?
This action cannot be undone.</translation>
    </message>
    <message>
        <source>所有设置已恢复为默认值。</source>
        <translation>All settings have been restored to their defaults.</translation>
    </message>
</context>
</TS>
