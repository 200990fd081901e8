<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_TW" sourcelanguage="zh_CN">
<context>
    <name>AboutDialog</name>
    <message>
        <source>关于Quillon</source>
        <translation>關於Quillon</translation>
    </message>
    <message>
        <source>&lt;h2&gt;Quillon&lt;/h2&gt;</source>
        <translation>&lt;h2&gt;Quillon&lt;/h2&gt;</translation>
    </message>
    <message>
        <source>版本: 1.0.7.01</source>
        <translation>版本: 1.0.7.01</translation>
    </message>
    <message>
        <source>一款简单易用的单文件程序制作工具，提供向导式操作界面，支持多种压缩方式，可自定义输出目录，轻松制作高效单文件程序。</source>
        <translation>一款簡單易用的單一檔案程式製作工具，提供精靈式操作介面，支援多種壓縮方式，可自訂輸出目錄，輕鬆製作高效率的單一檔案程式。</translation>
    </message>
    <message>
        <source>&lt;a href=&quot;https://morvane.example&quot;&gt;https://morvane.example&lt;/a&gt;</source>
        <translation>&lt;a href=&quot;https://morvane.example&quot;&gt;https://morvane.example&lt;/a&gt;</translation>
    </message>
    <message>
        <source>版本: %1</source>
        <translation>版本: %1</translation>
    </message>
    <message>
        <source>访问官方网站 %1</source>
        <translation>造訪官方網站 %1</translation>
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
        <translation>基礎</translation>
    </message>
    <message>
        <source>配置</source>
        <translation>設定</translation>
    </message>
    <message>
        <source>源文件夹</source>
        <translation>來源資料夾</translation>
    </message>
    <message>
        <source>主程序</source>
        <translation>主程式</translation>
    </message>
    <message>
        <source>输出位置</source>
        <translation>輸出位置</translation>
    </message>
    <message>
        <source>选择</source>
        <translation>選擇</translation>
    </message>
    <message>
        <source>开始制作</source>
        <translation>開始製作</translation>
    </message>
    <message>
        <source>压缩方法</source>
        <translation>壓縮方法</translation>
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
        <translation>壓縮等級</translation>
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
        <translation>儲存</translation>
    </message>
    <message>
        <source>最快</source>
        <translation>最快</translation>
    </message>
    <message>
        <source>快速</source>
        <translation>快速</translation>
    </message>
    <message>
        <source>标准</source>
        <translation>標準</translation>
    </message>
    <message>
        <source>最大</source>
        <translation>最大</translation>
    </message>
    <message>
        <source>极限</source>
        <translation>極限</translation>
    </message>
    <message>
        <source>字典大小</source>
        <translation>字典大小</translation>
    </message>
    <message>
        <source>程序图标</source>
        <translation>程式圖示</translation>
    </message>
    <message>
        <source>解压到临时目录</source>
        <translation>解壓縮到暫存目錄</translation>
    </message>
    <message>
        <source>加密文件内容</source>
        <translation>加密檔案內容</translation>
    </message>
    <message>
        <source>以管理员权限运行</source>
        <translation>以管理員權限執行</translation>
    </message>
    <message>
        <source>完成后清理临时文件</source>
        <translation>完成後清除暫存檔案</translation>
    </message>
    <message>
        <source>一键重置</source>
        <translation>一鍵重設</translation>
    </message>
    <message>
        <source>正在处理</source>
        <translation>正在處理</translation>
    </message>
    <message>
        <source>正在生成便携程序，请等待处理完成后再退出。</source>
        <translation>正在產生可攜式程式，請等待處理完成後再結束。</translation>
    </message>
    <message>
        <source>确认退出</source>
        <translation>確認結束</translation>
    </message>
    <message>
        <source>确定要退出 Quillon 吗？</source>
        <translation>確定要結束 Quillon 嗎？</translation>
    </message>
    <message>
        <source>选择源文件夹</source>
        <translation>選擇來源資料夾</translation>
    </message>
    <message>
        <source>警告</source>
        <translation>警告</translation>
    </message>
    <message>
        <source>请先选择源文件夹！</source>
        <translation>請先選擇來源資料夾！</translation>
    </message>
    <message>
        <source>选择主程序</source>
        <translation>選擇主程式</translation>
    </message>
    <message>
        <source>可执行文件 (*.exe)</source>
        <translation>執行檔 (*.exe)</translation>
    </message>
    <message>
        <source>选择的主程序必须在源文件夹内！</source>
        <translation>選擇的主程式必須位於來源資料夾內！</translation>
    </message>
    <message>
        <source>选择输出目录</source>
        <translation>選擇輸出目錄</translation>
    </message>
    <message>
        <source>选择图标文件</source>
        <translation>選擇圖示檔案</translation>
    </message>
    <message>
        <source>图标文件 (*.ico)</source>
        <translation>圖示檔案 (*.ico)</translation>
    </message>
    <message>
        <source>错误</source>
        <translation>錯誤</translation>
    </message>
    <message>
        <source>无法加载图标文件！</source>
        <translation>無法載入圖示檔案！</translation>
    </message>
    <message>
        <source>请选择源文件夹！</source>
        <translation>請選擇來源資料夾！</translation>
    </message>
    <message>
        <source>源文件夹不存在或不可访问！</source>
        <translation>來源資料夾不存在或無法存取！</translation>
    </message>
    <message>
        <source>请选择主程序！</source>
        <translation>請選擇主程式！</translation>
    </message>
    <message>
        <source>选择的主程序不存在于源文件夹中！
请重新选择主程序。</source>
        <translation>選擇的主程式不存在於來源資料夾中！
請重新選擇主程式。</translation>
    </message>
    <message>
        <source>请选择输出目录！</source>
        <translation>請選擇輸出目錄！</translation>
    </message>
    <message>
        <source>输出路径已存在但不是目录（例如 C:/Output）！</source>
        <translation>輸出路徑已存在但不是目錄（例如 C:/Output）！</translation>
    </message>
    <message>
        <source>创建目录</source>
        <translation>建立目錄</translation>
    </message>
    <message>
        <source>输出目录 %1 不存在，是否创建？</source>
        <translation>輸出目錄 %1 不存在，是否建立？</translation>
    </message>
    <message>
        <source>无法创建输出目录：%1</source>
        <translation>無法建立輸出目錄：%1</translation>
    </message>
    <message>
        <source>输入验证失败，操作中止</source>
        <translation>輸入驗證失敗，操作中止</translation>
    </message>
    <message>
        <source>主程序不存在：%1</source>
        <translation>主程式不存在：%1</translation>
    </message>
    <message>
        <source>输出目录与源主程序位置相同，生成的文件会覆盖原始主程序。
请选择其他输出目录。</source>
        <translation>輸出目錄與來源主程式位置相同，產生的檔案會覆蓋原始主程式。
請選擇其他輸出目錄。</translation>
    </message>
    <message>
        <source>调试信息:</source>
        <translation>偵錯資訊:</translation>
    </message>
    <message>
        <source>源文件夹: %1</source>
        <translation>來源資料夾: %1</translation>
    </message>
    <message>
        <source>主程序: %1</source>
        <translation>主程式: %1</translation>
    </message>
    <message>
        <source>输出目录: %1</source>
        <translation>輸出目錄: %1</translation>
    </message>
    <message>
        <source>图标路径: %1</source>
        <translation>圖示路徑: %1</translation>
    </message>
    <message>
        <source>完成</source>
        <translation>完成</translation>
    </message>
    <message>
        <source>便携应用创建成功！</source>
        <translation>可攜式應用程式建立成功！</translation>
    </message>
    <message>
        <source>创建失败</source>
        <translation>建立失敗</translation>
    </message>
    <message>
        <source>便携应用创建失败，请查看日志了解详情。</source>
        <translation>可攜式應用程式建立失敗，請查看記錄以了解詳情。</translation>
    </message>
    <message>
        <source>重置确认</source>
        <translation>重設確認</translation>
    </message>
    <message>
        <source>重置成功</source>
        <translation>重設成功</translation>
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
        <translation>關於Quillon</translation>
    </message>
    <message>
        <source>确定要重置所有设置吗？
此操作无法撤销。</source>
        <translation>確定要重設所有設定嗎？
此操作無法復原。</translation>
    </message>
    <message>
        <source>所有设置已恢复为默认值。</source>
        <translation>所有設定已還原為預設值。</translation>
    </message>
</context>
</TS>
